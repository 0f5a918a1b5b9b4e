#include "shell/SettingsCommands.h"

#include "config/SettingFields.h"
#include "config/SettingsFile.h"
#include "link/Journal.h"
#include "shell/ServiceCommands.h"

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// A line of standard input longer than this is refused, not cut.
constexpr std::size_t kMaxInputLine = 1024;

// The settings file as the gateway would load it, without writing a new one; false, with
// the reason on `err` and in the journal, when a file exists but cannot be read.
bool ReadSettings(CSettings& settings, const std::string& program, std::FILE* err) {
    std::string error;
    if (ReadSettingsFile(settings, GetSettingsPath(), error) < 0) {
        std::fprintf(err, "%s: cannot read the settings: %s\n", program.c_str(), error.c_str());
        Journal(JOURNAL_ERR, "cannot read the settings: %s", error.c_str());
        return false;
    }
    settings.m_strPin = ReadStoredPin();
    return true;
}

// One line of `in` without its line end; nothing when it is missing or too long.
std::optional<std::string> ReadInputLine(std::FILE* in) {
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF && c != '\n';) {
        if (line.size() == kMaxInputLine) return std::nullopt;
        line += static_cast<char>(c);
    }
    if (line.empty() && std::feof(in)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

int CheckSettingsReadable(const std::string& program, std::FILE* err) {
    CSettings settings;
    return ReadSettings(settings, program, err) ? 0 : 1;
}

int ShowSettings(std::FILE* out, const std::string& program, std::FILE* err) {
    std::fprintf(out, "# state folder: %s\n", StateFolder().c_str());
    std::fflush(out);
    CSettings settings;
    if (!ReadSettings(settings, program, err)) return 1;
    for (const SettingField& field : SettingFields())
        std::fprintf(out, "%s=%s\n", field.name, ShowSetting(field, settings).c_str());
    std::fflush(out);
    return 0;
}

int SetSettings(const std::vector<std::string>& assignments, const std::string& program, std::FILE* err,
                std::FILE* in) {
    CSettingsLock lock;
    CSettings settings;
    if (!ReadSettings(settings, program, err)) return 1;
    const std::string oldPin = settings.m_strPin;
    bool refused = false, autoStart = false;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        const std::string name = assignment.substr(0, equals);
        const SettingField* field = FindSettingField(name);
        std::string reason;
        std::optional<std::string> value;
        if (equals != std::string::npos) value = assignment.substr(equals + 1);
        // A secret typed on the command line would show in the process list and the history.
        if (field && field->secret && value == "-") value = ReadInputLine(in);
        if (equals == std::string::npos)
            reason = "'" + assignment + "' is not NAME=VALUE";
        else if (!field)
            reason = "unknown setting '" + name + "'";
        else if (!value)
            reason = name + ": no line of at most " + std::to_string(kMaxInputLine) + " bytes on standard input";
        else if (auto error = AssignSetting(*field, *value, settings))
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
