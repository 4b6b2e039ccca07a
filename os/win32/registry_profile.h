// The per-user profile in the registry: HKEY_CURRENT_USER\Software\Hallwyn\<app>,
// values of the section "" in the key itself, other sections as its subkeys.
#pragma once

#include <memory>
#include <string>

#include "platform/profile.h"

namespace zl::win {

std::unique_ptr<Profile> MakeRegistryProfile(const std::u16string& appName);

}  // namespace zl::win
