#include "shell/SettingsCommands.h"

#include "config/SettingFields.h"
#include "config/Settings.h"
#include "shell/ServiceCommands.h"

#include <cerrno>
#include <cstring>

namespace {

// The settings file as the gateway would load it, without writing a new one.
CSettings ReadSettings() {
    CSettings settings;
    if (!ReadSettingsFile(settings, GetSettingsPath())) settings.SetDefaults();
    settings.m_strPin = ReadStoredPin();
    return settings;
}

}  // namespace

int ShowSettings(std::FILE* out) {
    const CSettings settings = ReadSettings();
    for (const SettingField& field : SettingFields())
        std::fprintf(out, "%s=%s\n", field.name, ShowSetting(field, settings).c_str());
    std::fflush(out);
    return 0;
}

int SetSettings(const std::vector<std::string>& assignments, const std::string& program, std::FILE* err) {
    CSettingsLock lock;
    CSettings settings = ReadSettings();
    const std::string oldPin = settings.m_strPin;
    bool refused = false, autoStart = false;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        const std::string name = assignment.substr(0, equals);
        const SettingField* field = FindSettingField(name);
        std::string reason;
        if (equals == std::string::npos)
            reason = "'" + assignment + "' is not NAME=VALUE";
        else if (!field)
            reason = "unknown setting '" + name + "'";
        else if (auto error = AssignSetting(*field, assignment.substr(equals + 1), settings))
            reason = name + ": " + *error;
        if (!reason.empty()) {
            std::fprintf(err, "%s: %s\n", program.c_str(), reason.c_str());
            refused = true;
        }
        autoStart = autoStart || (field && field->integer == &CSettings::m_bAutoStart);
    }
    if (refused) return 2;

    const std::string path = GetSettingsPath();
    if (!SaveSettingsFile(settings, path)) return 1;
    if (settings.m_strPin != oldPin && !WriteStoredPin(settings.m_strPin)) {
        std::fprintf(err, "%s: cannot save %s: %s\n", program.c_str(), StatePath(PIN_FILE_NAME).c_str(),
                     std::strerror(errno));
        return 1;
    }
    // The window's Apply sets the service's start type; so does a change here.
    if (autoStart) SetServiceAutoStart(settings.m_bAutoStart);
    return 0;
}
