#include "config/ConfFile.h"

#include "config/SettingFields.h"
#include "config/SettingsFile.h"
#include "link/Journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kConfNames[] = {"multipart_join", "multipart_timeout", "report_sql",    "claim_sql",
                                  "release_sql",    "reclaim_sql",       "claim_timeout", "reply_numbers",
                                  "reply_limit",    "outbox_insert_sql",
                                  "webhook_url",    "webhook_secret",    "http_listen",   "http_token",
                                  "outbox_status_sql"};

constexpr std::size_t kMaxConfBytes = 64 * 1024;

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The setting a line assigns ("" for comments, blank lines and lines without '='), and
// its value.
std::string LineName(const std::string& line, std::string* value = nullptr) {
    const std::string trimmed = Trim(line);
    const std::size_t equals = trimmed.find('=');
    if (trimmed.empty() || trimmed[0] == '#' || equals == std::string::npos) return std::string();
    if (value) *value = Trim(trimmed.substr(equals + 1));
    return Trim(trimmed.substr(0, equals));
}

// The file's lines (a missing file has none); false with errno set when it exists and
// cannot be read whole: a file over the size limit is refused with EFBIG, never cut.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    lines.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    std::string text;
    char buffer[4096];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxConfBytes) {
            error = EFBIG;
            break;
        }
    }
    ::close(fd);
    if (error) {
        errno = error;
        return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// The value as the file keeps it: a secret too (the file is private to the gateway).
std::string ConfValue(const std::string& name, const CSettings& settings) {
    const SettingField& field = *FindSettingField(name);
    return field.secret && field.text ? settings.*field.text : ShowSetting(field, settings);
}

}  // namespace

std::string ConfPathFor(const std::string& settingsPath) {
    const std::size_t slash = settingsPath.rfind('/');
    return slash == std::string::npos ? std::string(CONF_FILE_NAME)
                                      : settingsPath.substr(0, slash + 1) + CONF_FILE_NAME;
}

bool IsConfSetting(const char* name) {
    for (const char* conf : kConfNames)
        if (std::string(conf) == name) return true;
    return false;
}

bool ReadConfFile(CSettings& settings, const std::string& path, std::string* error) {
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) {
        if (error)
            *error = path + ": " +
                     (errno == EFBIG ? "longer than " + std::to_string(kMaxConfBytes) + " bytes" : std::strerror(errno));
        return false;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string value;
        const std::string name = LineName(lines[i], &value);
        if (name.empty()) continue;
        const SettingField* field = IsConfSetting(name.c_str()) ? FindSettingField(name) : nullptr;
        if (!field) {
            Journal(JOURNAL_WARNING, "%s line %zu: unknown setting '%s' kept unused", path.c_str(), i + 1,
                    name.c_str());
        } else if (auto error = AssignSetting(*field, value, settings)) {
            // A statement template that cannot bind its values is kept, to be refused where it
            // would run: left empty, a claim_sql would let this gateway send without claims.
            const bool keep = field->check && field->check(value) == error;
            if (keep) settings.*field->text = value;
            Journal(keep ? JOURNAL_ERR : JOURNAL_WARNING, "%s line %zu: %s: %s", path.c_str(), i + 1, name.c_str(),
                    error->c_str());
        }
    }
    return true;
}

bool WriteConfFile(const CSettings& settings, const std::string& path) {
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return false;
    if (lines.empty()) lines.push_back("# Settings of the gateway beyond Pellwick.ini: name=value, one per line.");
    std::vector<bool> written(std::size(kConfNames), false);
    std::string old, text;
    for (const std::string& line : lines) {
        old += line + "\n";
        const std::string name = LineName(line);
        std::size_t k = 0;
        while (k < written.size() && name != kConfNames[k]) ++k;
        if (k == written.size()) {
            text += line + "\n";  // comments and unknown names are kept as they are
            continue;
        }
        if (written[k]) continue;  // a repeated name: the one line written holds the value
        text += name + "=" + ConfValue(name, settings) + "\n";
        written[k] = true;
    }
    for (std::size_t k = 0; k < written.size(); ++k) {
        if (!written[k]) text += std::string(kConfNames[k]) + "=" + ConfValue(kConfNames[k], settings) + "\n";
    }
    if (text == old) return true;
    return ReplaceStateFile(path, text);
}
