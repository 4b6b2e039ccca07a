#include "os/qsettings/qsettings_profile.h"

#include <cstdint>

#include <QDir>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace zl {
namespace {

QString Key(const std::u16string& section, const std::u16string& entry) {
    QString key = QString::fromStdU16String(entry);
    if (section.empty()) return key;
    return QString::fromStdU16String(section) + u'/' + key;
}

// The native per-user place of organisation "Hallwyn": the registry on Windows,
// $XDG_CONFIG_HOME/Hallwyn/<app>.conf elsewhere. The file path is worked out here on
// every construction, so that a changed XDG_CONFIG_HOME (tests) is honoured.
QSettings* MakeSettings(const std::u16string& appName) {
    const QString app = QString::fromStdU16String(appName);
#ifdef Q_OS_WIN
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hallwyn"), app);
#else
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return new QSettings(base + QStringLiteral("/Hallwyn/") + app + QStringLiteral(".conf"), QSettings::IniFormat);
#endif
}

class QSettingsProfile : public Profile {
public:
    explicit QSettingsProfile(const std::u16string& appName) : settings_(MakeSettings(appName)) {}

    int GetProfileInt(const std::u16string& section, const std::u16string& entry, int def) override {
        QVariant v = settings_->value(Key(section, entry));
        if (!v.isValid()) return def;
        bool ok = false;
        // A 32-bit value; anything else (text, fractions, out of range) counts as missing.
        qlonglong n = v.toString().trimmed().toLongLong(&ok);
        if (!ok || n < INT32_MIN || n > UINT32_MAX) return def;
        return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(n & 0xFFFFFFFFll)));
    }

    std::u16string GetProfileString(const std::u16string& section, const std::u16string& entry,
                                    const std::u16string& def) override {
        QVariant v = settings_->value(Key(section, entry));
        if (!v.isValid() || !v.canConvert<QString>()) return def;
        return v.toString().toStdU16String();
    }

    bool WriteProfileInt(const std::u16string& section, const std::u16string& entry, int value) override {
        settings_->setValue(Key(section, entry), value);
        settings_->sync();
        return settings_->status() == QSettings::NoError;
    }

    bool WriteProfileString(const std::u16string& section, const std::u16string& entry,
                            const std::u16string& value) override {
        settings_->setValue(Key(section, entry), QString::fromStdU16String(value));
        settings_->sync();
        return settings_->status() == QSettings::NoError;
    }

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace

std::unique_ptr<Profile> MakeQSettingsProfile(const std::u16string& appName) {
    return std::make_unique<QSettingsProfile>(appName);
}

}  // namespace zl
