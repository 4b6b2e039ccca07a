// The per-user profile on QSettings: organisation "Hallwyn", application = the
// executable's base name; on Linux ~/.config/Hallwyn/<app>.conf.
#pragma once

#include <memory>
#include <string>

#include "platform/profile.h"

namespace zl {

std::unique_ptr<Profile> MakeQSettingsProfile(const std::u16string& appName);

}  // namespace zl
