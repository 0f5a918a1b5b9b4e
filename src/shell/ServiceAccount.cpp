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
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        struct stat st {};
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

bool PrepareServiceAccount(const std::string& folder) {
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
