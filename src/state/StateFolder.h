#pragma once
// The state folder as a place a gateway may trust: owned by the user the gateway runs
// as, writable by nobody else, holding no symbolic link at a name the gateway writes,
// and held by one gateway at a time.
#include <string>
#include <vector>

// Empty when `folder` is safe; otherwise why not ("... is writable by its group").
// With `rootMayAdminister`, root may use a folder another user owns: the service user's,
// changed from an administrator's shell.
std::string FolderUnsafeReason(const std::string& folder, bool rootMayAdminister = false);

// The names in `folder` among `names` that are symbolic links.
std::vector<std::string> SymlinkedNames(const std::string& folder, const std::vector<std::string>& names);

// Every name the gateway writes in its state folder.
const std::vector<std::string>& StateFileNames();

// The exclusive lock of one gateway on its state folder ("Pellwick.lock", holding the
// owner's PID), held until the object is destroyed or the process ends.
class CFolderLock {
public:
    static constexpr const char* FILE_NAME = "Pellwick.lock";

    CFolderLock() = default;
    ~CFolderLock();
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // True when taken. Otherwise `error` says why; `holder` is the PID of the gateway that
    // holds it (0 when the lock could not be tried at all).
    bool Take(const std::string& folder, std::string& error, long& holder);
    bool Held() const { return m_fd >= 0; }
    // Whether a gateway holds the lock of `folder`, tried without taking it for long and
    // without writing anything: its PID (1 when it wrote none), 0 when none holds it, -1
    // when it cannot be told (`error` says why).
    static long Holder(const std::string& folder, std::string& error);

private:
    int m_fd = -1;
};
