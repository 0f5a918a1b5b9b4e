#include "state/StateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string FolderUnsafeReason(const std::string& folder, bool rootMayAdminister) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return "cannot read " + folder + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
    if (st.st_uid != ::geteuid() && !(rootMayAdminister && ::geteuid() == 0))
        return folder + " belongs to user " + std::to_string(st.st_uid) + ", not to the user the gateway runs as (" +
               std::to_string(::geteuid()) + ")";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return folder + " is writable by " + ((st.st_mode & S_IWOTH) ? "other users" : "its group") +
               " (chmod go-w " + folder + ")";
    return {};
}

std::vector<std::string> SymlinkedNames(const std::string& folder, const std::vector<std::string>& names) {
    std::vector<std::string> linked;
    for (const std::string& name : names) {
        struct stat st {};
        if (::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) linked.push_back(name);
    }
    return linked;
}

const std::vector<std::string>& StateFileNames() {
    static const std::vector<std::string> names = {
        "Pellwick.ini",      "Pellwick.conf",      "Pellwick.pin",         "Pellwick.log",
        "Pellwick.lock",     "Pellwick.state",     "Pellwick.state-wal",   "Pellwick.state-shm",
        "Pellwick.state-journal", "Pellwick.journal.imported", "Pellwick.spool.imported",
        "Pellwick.parts.imported", "Pellwick.references.imported", "Pellwick.rejected.imported",
        "Pellwick.status", "Pellwick.http-token"};
    return names;
}

CFolderLock::~CFolderLock() {
    if (m_fd >= 0) ::close(m_fd);
}

bool CFolderLock::Take(const std::string& folder, std::string& error, long& holder) {
    holder = 0;
    const std::string path = folder + "/" + FILE_NAME;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    // `pellwick -status` holds the lock shared for an instant (Holder): a few short tries
    // keep it from turning a gateway away.
    int locked = ::flock(fd, LOCK_EX | LOCK_NB);
    for (int tries = 0; locked != 0 && errno == EWOULDBLOCK && tries < 10; ++tries) {
        ::usleep(10000);
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    }
    if (locked != 0) {
        const int failure = errno;
        char text[32] = {};
        if (::pread(fd, text, sizeof text - 1, 0) > 0) holder = std::strtol(text, nullptr, 10);
        ::close(fd);
        error = failure == EWOULDBLOCK
                    ? "another gateway (PID " + std::to_string(holder) + ") is running on " + folder
                    : "cannot lock " + path + ": " + std::strerror(failure);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

long CFolderLock::Holder(const std::string& folder, std::string& error) {
    const std::string path = folder + "/" + FILE_NAME;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return 0;  // no gateway ever ran here
        error = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    long holder = 0;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
    } else if (errno == EWOULDBLOCK) {
        char text[32] = {};
        if (::pread(fd, text, sizeof text - 1, 0) > 0) holder = std::strtol(text, nullptr, 10);
        if (holder <= 0) holder = 1;
    } else {
        error = "cannot lock " + path + ": " + std::strerror(errno);
        holder = -1;
    }
    ::close(fd);
    return holder;
}
