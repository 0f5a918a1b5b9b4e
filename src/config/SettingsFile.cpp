#include "config/SettingsFile.h"

#include "config/ConfFile.h"
#include "config/MessageHook.h"
#include "config/SettingFields.h"
#include "link/Journal.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One stored field: an integer (width 0) or a text field of the given width.
struct Field {
    int CSettings::*integer;
    std::string CSettings::*text;
    std::size_t width;
};

constexpr Field Int(int CSettings::*member) { return {member, nullptr, 0}; }
constexpr Field Text(std::string CSettings::*member, std::size_t width) {
    return {nullptr, member, width};
}

constexpr std::size_t SHORT_TEXT = 32;
constexpr std::size_t LONG_TEXT = 256;

// The file order. The latches lie between the report hour and the auto-start flag, and
// the counters are stored sent, received, failed, unsent.
const std::array<Field, 30> kLayout = {{
    Int(&CSettings::m_nPort),
    Int(&CSettings::m_nBaudRate),
    Int(&CSettings::m_nRetryInterval),
    Int(&CSettings::m_nRetryCount),
    Text(&CSettings::m_strSmsc, SHORT_TEXT),
    Int(&CSettings::m_bLongSms),
    Text(&CSettings::m_strDsn, SHORT_TEXT),
    Text(&CSettings::m_strDbUser, SHORT_TEXT),
    Text(&CSettings::m_strDbPassword, SHORT_TEXT),
    Text(&CSettings::m_strSelectSql, LONG_TEXT),
    Text(&CSettings::m_strUpdateSql, LONG_TEXT),
    Text(&CSettings::m_strInsertSql, LONG_TEXT),
    Int(&CSettings::m_nQueryInterval),
    Int(&CSettings::m_bLogFile),
    Int(&CSettings::m_bDailyReport),
    Int(&CSettings::m_nReportTime),
    Int(&CSettings::m_bReportSent),
    Int(&CSettings::m_bBatteryWarned),
    Int(&CSettings::m_bDbLostWarned),
    Int(&CSettings::m_bAutoStart),
    Text(&CSettings::m_strReportPhone, SHORT_TEXT),
    Int(&CSettings::m_bSendingPeriod),
    Int(&CSettings::m_nStartTime),
    Int(&CSettings::m_nEndTime),
    Int(&CSettings::m_bBatteryWarning),
    Int(&CSettings::m_bDbLostWarning),
    Int(&CSettings::m_nSent),
    Int(&CSettings::m_nReceived),
    Int(&CSettings::m_nFailed),
    Int(&CSettings::m_nUnsent),
}};

std::size_t FieldSize(const Field& f) { return f.integer ? 4 : f.width; }

void PutInt32(std::string& out, int value) {
    auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

int GetInt32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return static_cast<int>(v);
}

std::mutex g_pathMutex;
std::string g_path = "Pellwick.ini";

// One lock around every save, so the window's and the worker's saves never interleave.
std::mutex g_saveMutex;

const char* const SAVE_ERROR_TEXT = "Save configure file error.";

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ReplaceStateFile(const std::string& path, const std::string& data) {
    std::string tmpl = path + ".XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (ok && ::geteuid() == 0) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        struct stat st {};
        ok = ::stat(folder.c_str(), &st) == 0 &&
             ((st.st_uid == 0 && st.st_gid == ::getegid()) || ::fchown(fd, st.st_uid, st.st_gid) == 0);
    }
    ok = ok && WriteAll(fd, data) && ::fsync(fd) == 0;
    int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmpl.c_str(), path.c_str()) == 0;
    if (!ok) {
        saved = errno ? errno : saved;
        ::unlink(tmpl.c_str());
        errno = saved;
    }
    return ok;
}

namespace {

// Reads at most `limit` bytes; false on a read error.
bool ReadUpTo(int fd, std::size_t limit, std::vector<char>& out) {
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        ssize_t n = ::read(fd, out.data() + got, limit - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

}  // namespace

std::string EncodeSettings(const CSettings& settings) {
    std::string out;
    out.reserve(SETTINGS_FILE_SIZE);
    for (const Field& f : kLayout) {
        if (f.integer) {
            PutInt32(out, settings.*f.integer);
        } else {
            std::string text = CutUtf8(settings.*f.text, f.width - 1);
            text.resize(f.width, '\0');
            out += text;
        }
    }
    return out;
}

int DecodeSettings(CSettings& settings, const char* data, std::size_t size) {
    if (size > SETTINGS_FILE_SIZE) size = SETTINGS_FILE_SIZE;
    std::size_t offset = 0;
    int fields = 0;
    for (const Field& f : kLayout) {
        std::size_t fieldSize = FieldSize(f);
        if (offset + fieldSize > size) break;
        const char* p = data + offset;
        if (f.integer) {
            settings.*f.integer = GetInt32(p);
        } else {
            settings.*f.text = std::string(p, ::strnlen(p, f.width));
        }
        offset += fieldSize;
        ++fields;
    }
    // The worker takes its tick counter modulo this value.
    if (settings.m_nQueryInterval < 1) settings.m_nQueryInterval = 1;
    return fields;
}

void SetSettingsPath(const std::string& path) {
    std::lock_guard lock(g_pathMutex);
    g_path = path;
}

std::string GetSettingsPath() {
    std::lock_guard lock(g_pathMutex);
    return g_path;
}

std::string StateFolder() {
    const std::string path = GetSettingsPath();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string StatePath(const std::string& name) { return StateFolder() + "/" + name; }

namespace {
std::atomic<bool> s_namedInstance{false};
}  // namespace

std::string InstanceName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
    const std::string folder = StateFolder();
    return std::string(host) + "/" + folder.substr(folder.rfind('/') + 1);
}

void SetNamedInstance(bool named) { s_namedInstance = named; }
bool IsNamedInstance() { return s_namedInstance; }

int ReadSettingsFile(CSettings& settings, const std::string& path, std::string& error) {
    CSettings taken = settings;
    int result = 1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        taken.SetDefaults();
        result = 0;
    } else {
        std::vector<char> bytes;
        const bool ok = fd >= 0 && ReadUpTo(fd, SETTINGS_FILE_SIZE, bytes);
        const int reason = errno;
        if (fd >= 0) ::close(fd);
        if (!ok) {
            error = path + ": " + std::strerror(reason);
            return -1;
        }
        DecodeSettings(taken, bytes.data(), bytes.size());
        taken.m_bLogFile = 0;
    }
    if (!ReadConfFile(taken, ConfPathFor(path), &error)) return -1;
    settings = taken;
    return result;
}

int LoadSettingsFile(CSettings& settings, const std::string& path, std::string* error) {
    std::string reason;
    const int loaded = ReadSettingsFile(settings, path, reason);
    if (loaded == 0) SaveSettingsFile(settings, path);
    if (error) *error = reason;
    return loaded;
}

namespace {

// Tells one version of a file from another: every save renames a new file into place.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0, changed = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    FileStamp stamp;
    if (::stat(path.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    stamp.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    return stamp;
}

// What this process last read from or wrote to the settings and PIN files.
struct Shared {
    std::mutex mutex;
    CSettings base;
    FileStamp settingsStamp, confStamp, pinStamp;
    int pendingEffect = EFFECT_NONE;
    bool unreadable = false;  // the files exist but could not be read: they are not written
} g_shared;

// Called with g_shared.mutex held; journals the change into the unreadable state once.
void NoteUnreadable(const std::string& error) {
    if (!g_shared.unreadable)
        Journal(JOURNAL_ERR, "cannot read the settings: %s; the files are left as they are", error.c_str());
    g_shared.unreadable = true;
}

std::atomic<bool> g_reloadRequested{false};

std::string TrimLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

bool ReadSmallFile(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<char> bytes;
    bool ok = ReadUpTo(fd, 4096, bytes);
    ::close(fd);
    out.assign(bytes.begin(), bytes.end());
    return ok;
}

// Takes the settings file's changes into `settings` when it is not the version last
// seen. Called with g_shared.mutex and the folder lock held.
int TakeFileChanges(CSettings& settings, bool force) {
    int effect = EFFECT_NONE;
    const std::string path = GetSettingsPath();
    const FileStamp stamp = StampOf(path), confStamp = StampOf(ConfPathFor(path));
    if (force || stamp != g_shared.settingsStamp || confStamp != g_shared.confStamp) {
        CSettings file = g_shared.base;
        std::string error;
        // A file removed meanwhile is written again from the record at the next save.
        const int result = stamp.exists ? ReadSettingsFile(file, path, error) : 0;
        if (result > 0) {
            effect |= MergeSettings(g_shared.base, file, settings);
            file.m_strPin = g_shared.base.m_strPin;
            g_shared.base = file;
            g_shared.unreadable = false;
        } else if (result < 0) {
            NoteUnreadable(error);
        }
        g_shared.settingsStamp = stamp;
        g_shared.confStamp = confStamp;
    }
    const FileStamp pinStamp = StampOf(StatePath(PIN_FILE_NAME));
    if (force || pinStamp != g_shared.pinStamp) {
        const std::string pin = ReadStoredPin();
        if (pin != g_shared.base.m_strPin && pin != settings.m_strPin) {
            settings.m_strPin = pin;
            effect |= EFFECT_DEVICE | EFFECT_OTHER;
        }
        g_shared.base.m_strPin = pin;
        g_shared.pinStamp = pinStamp;
    }
    return effect;
}

}  // namespace

CSettingsLock::CSettingsLock() {
    m_fd = ::open(StateFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd >= 0) {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

CSettingsLock::~CSettingsLock() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string ReadStoredPin() {
    std::string pin;
    if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"); credentials && *credentials) {
        if (ReadSmallFile(std::string(credentials) + "/pin", pin)) return TrimLineEnd(pin);
    }
    if (ReadSmallFile(StatePath(PIN_FILE_NAME), pin)) return TrimLineEnd(pin);
    return std::string();
}

std::string ReadHttpToken(const CSettings& settings) {
    std::string token;
    if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"); credentials && *credentials) {
        if (ReadSmallFile(std::string(credentials) + "/http-token", token)) return TrimLineEnd(token);
    }
    if (ReadSmallFile(StatePath(HTTP_TOKEN_FILE_NAME), token)) return TrimLineEnd(token);
    return settings.m_strHttpToken;
}

bool WriteStoredPin(const std::string& pin) {
    const std::string path = StatePath(PIN_FILE_NAME);
    if (pin.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    return ReplaceStateFile(path, pin + "\n");
}

// Called outside every lock: the message may wait for a person, and the other thread
// must still be able to save meanwhile.
int ReportSaveError(const std::string& path, int error) {
    ShowErrorMessage(std::string(SAVE_ERROR_TEXT) + " (" + path + ": " + std::strerror(error) + ")", "Error");
    return 0;
}

// The record and the conf file beside it; on failure `failed` names the file not written.
bool WriteSettingsFiles(const CSettings& settings, const std::string& path, std::string& failed) {
    failed = path;
    if (!ReplaceStateFile(path, EncodeSettings(settings))) return false;
    failed = ConfPathFor(path);
    return WriteConfFile(settings, failed);
}

int SaveSettingsFile(const CSettings& settings, const std::string& path) {
    std::unique_lock lock(g_saveMutex);
    std::string failed;
    if (WriteSettingsFiles(settings, path, failed)) return 1;
    const int error = errno;
    lock.unlock();
    return ReportSaveError(failed, error);
}

int LoadSettings() {
    std::lock_guard lock(g_shared.mutex);
    CSettingsLock folder;
    const std::string path = GetSettingsPath();
    std::string error;
    g_shared.unreadable = false;
    const int loaded = LoadSettingsFile(theSettings, path, &error);
    if (loaded < 0) NoteUnreadable(error);
    // A short file is read as far as it goes: the fields it lacks keep their values.
    if (const FileStamp stamp = StampOf(path); loaded > 0 && stamp.size < static_cast<off_t>(SETTINGS_FILE_SIZE))
        Journal(JOURNAL_WARNING, "%s holds %lld bytes, not %zu: the fields past its end keep their values", path.c_str(),
                static_cast<long long>(stamp.size), SETTINGS_FILE_SIZE);
    theSettings.m_strPin = ReadStoredPin();
    g_shared.base = theSettings;
    g_shared.settingsStamp = StampOf(GetSettingsPath());
    g_shared.confStamp = StampOf(ConfPathFor(GetSettingsPath()));
    g_shared.pinStamp = StampOf(StatePath(PIN_FILE_NAME));
    g_shared.pendingEffect = EFFECT_NONE;
    return loaded;
}

int SaveSettings() {
    const std::string path = GetSettingsPath();
    std::string failed;
    int error = 0;
    {
        std::lock_guard lock(g_shared.mutex);
        CSettingsLock folder;
        g_shared.pendingEffect |= TakeFileChanges(theSettings, false);
        if (g_shared.unreadable) return 0;
        std::lock_guard save(g_saveMutex);
        if (WriteSettingsFiles(theSettings, path, failed)) {
            const std::string pin = g_shared.base.m_strPin;
            g_shared.base = theSettings;
            g_shared.base.m_strPin = pin;
            g_shared.settingsStamp = StampOf(path);
            g_shared.confStamp = StampOf(ConfPathFor(path));
            return 1;
        }
        error = errno;
    }
    return ReportSaveError(failed, error);
}

int SyncSettings(bool force) {
    std::lock_guard lock(g_shared.mutex);
    CSettingsLock folder;
    int effect = g_shared.pendingEffect | TakeFileChanges(theSettings, force);
    g_shared.pendingEffect = EFFECT_NONE;
    return effect;
}

void RequestSettingsReload() { g_reloadRequested.store(true); }

bool TakeSettingsReloadRequest() { return g_reloadRequested.exchange(false); }
