#include "shell/SystemdServiceManager.h"

#include "shell/LastError.h"
#include "shell/ServiceUnit.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace {

constexpr const char* SYSTEMD = "org.freedesktop.systemd1";
constexpr const char* MANAGER_PATH = "/org/freedesktop/systemd1";
constexpr const char* MANAGER = "org.freedesktop.systemd1.Manager";
constexpr const char* UNIT = "org.freedesktop.systemd1.Unit";

// Records a failed sd-bus call (r < 0) with the bus error's message when it has one.
bool Fail(int r, const sd_bus_error* error) {
    int code = r < 0 ? -r : EIO;
    std::string message;
    if (error && sd_bus_error_is_set(error) && error->message) message = error->message;
    SetLastErrorCode(code, message);
    return false;
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0;
    const char* p = text.data();
    std::size_t left = text.size();
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else {
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        saved = errno ? errno : saved;
        ::unlink(tmp.c_str());
        errno = saved;
    }
    return ok;
}

// "orvane-pellwick@sim2.service" -> "orvane-pellwick@.service": the template an instance
// is made from; any other name is its own file.
std::string UnitFileOf(const std::string& unit) {
    const std::size_t at = unit.find('@'), dot = unit.rfind('.');
    if (at == std::string::npos || dot == std::string::npos || dot < at) return unit;
    return unit.substr(0, at + 1) + unit.substr(dot);
}

// The file's text; empty when it cannot be read.
std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ExecStartOf(const std::string& unitText) {
    const std::size_t start = unitText.find("\nExecStart=");
    return start == std::string::npos ? std::string() : unitText.substr(start, unitText.find('\n', start + 1) - start);
}

}  // namespace

CSystemdServiceManager::CSystemdServiceManager(std::string unitFolder, std::string unitName,
                                               AccountPreparation prepareAccount)
    : m_strUnitFolder(std::move(unitFolder)),
      m_strUnitName(std::move(unitName)),
      m_strUnitFile(UnitFileOf(m_strUnitName)),
      m_prepareAccount(std::move(prepareAccount)) {}

CSystemdServiceManager::~CSystemdServiceManager() {
    if (m_bus) sd_bus_flush_close_unref(m_bus);
}

bool CSystemdServiceManager::Connect() {
    if (m_bus) return true;
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) return Fail(r, nullptr);
    // A bus without systemd on it is no service manager either.
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* version = nullptr;
    r = sd_bus_get_property_string(bus, SYSTEMD, MANAGER_PATH, MANAGER, "Version", &error, &version);
    std::free(version);
    if (r < 0) {
        Fail(r, &error);
        sd_bus_error_free(&error);
        sd_bus_flush_close_unref(bus);
        return false;
    }
    m_bus = bus;
    return true;
}

bool CSystemdServiceManager::CallManager(const char* method, const char* types, ...) {
    sd_bus_message* request = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(m_bus, &request, SYSTEMD, MANAGER_PATH, MANAGER, method);
    if (r >= 0 && types) {
        va_list args;
        va_start(args, types);
        r = sd_bus_message_appendv(request, types, args);
        va_end(args);
    }
    if (r >= 0) r = sd_bus_call(m_bus, request, 0, &error, &reply);
    bool ok = r >= 0 || Fail(r, &error);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(request);
    return ok;
}

bool CSystemdServiceManager::Reload() { return CallManager("Reload", nullptr); }

bool CSystemdServiceManager::EnableUnit(bool enable) {
    const char* files[] = {m_strUnitName.c_str(), nullptr};
    sd_bus_message* request = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(m_bus, &request, SYSTEMD, MANAGER_PATH, MANAGER,
                                           enable ? "EnableUnitFiles" : "DisableUnitFiles");
    if (r >= 0) r = sd_bus_message_append_strv(request, const_cast<char**>(files));
    if (r >= 0) r = enable ? sd_bus_message_append(request, "bb", 0, 1) : sd_bus_message_append(request, "b", 0);
    if (r >= 0) r = sd_bus_call(m_bus, request, 0, &error, &reply);
    bool ok = r >= 0 || Fail(r, &error);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(request);
    return ok && Reload();
}

bool CSystemdServiceManager::OpenService(const std::string& /*name*/) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(m_bus, SYSTEMD, MANAGER_PATH, MANAGER, "LoadUnit", &error, &reply, "s",
                               m_strUnitName.c_str());
    const char* object = nullptr;
    if (r >= 0) r = sd_bus_message_read(reply, "o", &object);
    if (r < 0) {
        Fail(r, &error);
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return false;
    }
    m_strUnitObject = object;
    sd_bus_message_unref(reply);

    char* loadState = nullptr;
    r = sd_bus_get_property_string(m_bus, SYSTEMD, m_strUnitObject.c_str(), UNIT, "LoadState", &error, &loadState);
    if (r < 0) {
        Fail(r, &error);
        sd_bus_error_free(&error);
        return false;
    }
    bool found = std::strcmp(loadState, "not-found") != 0;
    std::free(loadState);
    if (!found) {
        SetLastErrorCode(ENOENT, "Unit " + m_strUnitName + " not found.");
        return false;
    }
    return true;
}

std::set<std::string> CSystemdServiceManager::EnabledInstances() const {
    const std::size_t at = m_strUnitFile.find('@');
    const std::string prefix = m_strUnitFile.substr(0, at + 1), suffix = m_strUnitFile.substr(at + 1);
    std::set<std::string> names;
    const std::filesystem::directory_iterator end;
    std::error_code error;
    for (std::filesystem::directory_iterator folder(m_strUnitFolder, error); !error && folder != end;
         folder.increment(error)) {
        const std::string name = folder->path().filename().string();
        if (!name.ends_with(".wants") && !name.ends_with(".requires")) continue;
        std::error_code inner;
        for (std::filesystem::directory_iterator link(folder->path(), inner); !inner && link != end;
             link.increment(inner)) {
            const std::string unit = link->path().filename().string();
            if (unit.size() > m_strUnitFile.size() && unit.starts_with(prefix) && unit.ends_with(suffix))
                names.insert(unit);
        }
    }
    return names;
}

bool CSystemdServiceManager::WriteUnit(const std::string& text) {
    if (!WriteFileAtomically(UnitPath(), text)) {
        SetLastErrorCode(errno);
        return false;
    }
    return Reload();
}

bool CSystemdServiceManager::CreateService(const ServiceDefinition& definition) {
    const std::string text = ServiceUnitText(definition);
    // The packaged executable's account and folder come with its package.
    auto prepare = [&] {
        return !m_prepareAccount || definition.executable == PACKAGED_EXECUTABLE ||
               m_prepareAccount(definition.workingDirectory);
    };
    if (!IsInstance()) {
        struct stat st {};
        if (::stat(UnitPath().c_str(), &st) == 0) {
            SetLastErrorCode(EEXIST, "Unit " + m_strUnitName + " already exists.");
            return false;
        }
        if (!prepare() || !WriteUnit(text)) return false;
    } else {
        const std::set<std::string> enabled = EnabledInstances();
        if (enabled.count(m_strUnitName)) {
            SetLastErrorCode(EEXIST, "Unit " + m_strUnitName + " is already enabled.");
            return false;
        }
        // One template serves every instance: written when missing or changed, kept otherwise.
        // A template that starts another program stays while instances use it: replacing it
        // would move them to other state folders, away from their journals.
        const std::string old = ReadText(UnitPath());
        if (old != text && !old.empty() && !enabled.empty() && ExecStartOf(old) != ExecStartOf(text)) {
            SetLastErrorCode(EEXIST, "Unit " + m_strUnitFile + " starts another program for the enabled instances.");
            return false;
        }
        if (!prepare() || (old != text && !WriteUnit(text))) return false;
    }
    if (definition.autoStart && !EnableUnit(true)) return false;
    return OpenService(definition.name);
}

bool CSystemdServiceManager::DeleteService() {
    EnableUnit(false);  // a unit that was never enabled is fine
    // The template stays while other instances are enabled.
    if (IsInstance() && !EnabledInstances().empty()) return true;
    if (::unlink(UnitPath().c_str()) != 0) {
        SetLastErrorCode(errno);
        return false;
    }
    return Reload();
}

bool CSystemdServiceManager::ReadActiveState(std::string& state, bool& jobPending) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* active = nullptr;
    int r = sd_bus_get_property_string(m_bus, SYSTEMD, m_strUnitObject.c_str(), UNIT, "ActiveState", &error,
                                       &active);
    if (r < 0) {
        Fail(r, &error);
        sd_bus_error_free(&error);
        return false;
    }
    state = active;
    std::free(active);

    sd_bus_message* reply = nullptr;
    std::uint32_t job = 0;
    const char* jobPath = nullptr;
    r = sd_bus_get_property(m_bus, SYSTEMD, m_strUnitObject.c_str(), UNIT, "Job", &error, &reply, "(uo)");
    if (r >= 0) r = sd_bus_message_read(reply, "(uo)", &job, &jobPath);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    jobPending = r >= 0 && job != 0;
    return true;
}

bool CSystemdServiceManager::StartService() {
    std::string state;
    bool job = false;
    if (!ReadActiveState(state, job)) return false;
    if (state == "active" || state == "activating" || state == "reloading") {
        SetLastErrorCode(EALREADY, "Unit " + m_strUnitName + " is already running.");
        return false;
    }
    if (!CallManager("StartUnit", "ss", m_strUnitName.c_str(), "replace")) return false;
    m_request = Request::Start;
    return true;
}

bool CSystemdServiceManager::StopService() {
    std::string state;
    bool job = false;
    if (!ReadActiveState(state, job)) return false;
    if (state == "inactive" || state == "failed") {
        SetLastErrorCode(ESRCH, "Unit " + m_strUnitName + " is not active.");
        return false;
    }
    if (!CallManager("StopUnit", "ss", m_strUnitName.c_str(), "replace")) return false;
    m_request = Request::Stop;
    return true;
}

bool CSystemdServiceManager::QueryState(ServiceState& state) {
    std::string active;
    bool job = false;
    if (!ReadActiveState(active, job)) return false;
    if (active == "activating" || active == "reloading")
        state = ServiceState::StartPending;
    else if (active == "deactivating")
        state = ServiceState::StopPending;
    else if (active == "active")
        // A stop job still queued has not changed the state yet.
        state = (job && m_request == Request::Stop) ? ServiceState::StopPending : ServiceState::Running;
    else
        state = (job && m_request == Request::Start) ? ServiceState::StartPending : ServiceState::Stopped;
    return true;
}

bool CSystemdServiceManager::SetAutoStart(bool automatic) { return EnableUnit(automatic); }
