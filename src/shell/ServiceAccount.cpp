#include "shell/ServiceAccount.h"

#include "shell/LastError.h"
#include "shell/ServiceUnit.h"

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* SERIAL_GROUP = "dialout";

// Runs a system tool, its output going where ours goes; true when it exits 0.
bool RunTool(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        SetLastErrorCode(error, args[0] + " could not be started.");
        return false;
    }
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    SetLastErrorCode(EPERM, args[0] + " failed for the account " + SERVICE_ACCOUNT + ".");
    return false;
}

bool InGroup(const passwd& account, const char* name) {
    const group* found = ::getgrnam(name);
    if (!found) return false;
    if (account.pw_gid == found->gr_gid) return true;
    for (char** member = found->gr_mem; *member; ++member)
        if (account.pw_name == std::string(*member)) return true;
    return false;
}

bool GiveFolder(const std::string& folder, uid_t uid, gid_t gid) {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto give = [&](const fs::path& path) {
        if (::lchown(path.c_str(), uid, gid) == 0) return true;
        SetLastErrorCode(errno, "Unable to give " + path.string() + " to " + SERVICE_ACCOUNT + ".");
        return false;
    };
    if (!give(folder)) return false;
    // The gateway refuses a state folder that others may write to.
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || ::chmod(folder.c_str(), st.st_mode & 07755) != 0) {
        SetLastErrorCode(errno, "Unable to protect " + folder + ".");
        return false;
    }
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (::lstat(it->path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
        if (S_ISREG(st.st_mode) && (st.st_mode & 0111)) continue;
        if (!give(it->path())) return false;
    }
    if (ec) SetLastErrorCode(ec.value(), "Unable to read " + folder + ".");
    return !ec;
}

}  // namespace

std::string AccountRefusal(uid_t uid, const std::string& shell) {
    if (uid == 0 || uid > 999) return "uid " + std::to_string(uid) + " is not a system account's";
    for (const char* none : {"/usr/sbin/nologin", "/sbin/nologin", "/bin/false", "/usr/bin/false"})
        if (shell == none) return std::string();
    return "its shell " + shell + " allows logins";
}

std::string FolderRefusal(const std::string& folder) {
    static const char* const shared[] = {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/etc",
                                         "/boot", "/dev", "/proc", "/sys", "/run", "/tmp", "/var/tmp", "/root"};
    if (folder.empty() || folder[0] != '/' || folder == "/" || folder == "/home" || folder == "/var" ||
        folder == "/var/lib" || folder == "/opt" || folder == "/srv")
        return folder + " is a system folder";
    for (const char* top : shared) {
        const std::string prefix = top;
        if (folder == prefix || folder.rfind(prefix + "/", 0) == 0) return folder + " is a system folder";
    }
    ::setpwent();
    std::string owner;
    while (const passwd* entry = ::getpwent())
        if (entry->pw_dir && folder == entry->pw_dir && std::string(entry->pw_name) != SERVICE_ACCOUNT) {
            owner = entry->pw_name;
            break;
        }
    ::endpwent();
    return owner.empty() ? std::string() : folder + " is the home folder of " + owner;
}

bool PrepareServiceAccount(const std::string& folder) {
    const std::string refusal = FolderRefusal(folder);
    if (!refusal.empty()) {
        SetLastErrorCode(EPERM, "The service keeps its state beside the executable, but " + refusal +
                                    "; copy the program to a folder of its own.");
        return false;
    }
    const passwd* account = ::getpwnam(SERVICE_ACCOUNT);
    if (!account) {
        if (!RunTool({"useradd", "--system", "--user-group", "--no-create-home", "--home-dir", folder, "--shell",
                      "/usr/sbin/nologin", "--groups", SERIAL_GROUP, SERVICE_ACCOUNT}))
            return false;
        account = ::getpwnam(SERVICE_ACCOUNT);
        if (!account) {
            SetLastErrorCode(ENOENT, std::string("The account ") + SERVICE_ACCOUNT + " was not created.");
            return false;
        }
    } else {
        const std::string refusal = AccountRefusal(account->pw_uid, account->pw_shell ? account->pw_shell : "");
        if (!refusal.empty()) {
            SetLastErrorCode(EEXIST, std::string("The existing account ") + SERVICE_ACCOUNT +
                                         " cannot run the service: " + refusal + ".");
            return false;
        }
        if (!InGroup(*account, SERIAL_GROUP) &&
            !RunTool({"usermod", "--append", "--groups", SERIAL_GROUP, SERVICE_ACCOUNT}))
            return false;
    }
    return GiveFolder(folder, account->pw_uid, account->pw_gid);
}
