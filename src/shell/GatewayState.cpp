#include "shell/GatewayState.h"

#include "link/Journal.h"
#include "state/StateFolder.h"

namespace {

CFolderLock g_lock;
CStateStore g_store;
std::string g_strStorePath;

int Refuse(const std::string& program, std::FILE* err, const std::string& reason) {
    std::fprintf(err, "%s: %s\n", program.c_str(), reason.c_str());
    std::fflush(err);
    Journal(JOURNAL_ERR, "%s", reason.c_str());
    return 1;
}

}  // namespace

CStateStore& GatewayStateStore() { return g_store; }
const std::string& GatewayStatePath() { return g_strStorePath; }

int TakeStateFolder(const std::string& folder, const std::string& program, std::FILE* err) {
    if (const std::string unsafe = FolderUnsafeReason(folder); !unsafe.empty())
        return Refuse(program, err, "the state folder is not safe: " + unsafe);
    const auto linked = SymlinkedNames(folder, StateFileNames());
    if (!linked.empty()) {
        std::string names;
        for (const std::string& name : linked) names += (names.empty() ? "" : ", ") + name;
        return Refuse(program, err, "symbolic link in the state folder " + folder + " (" + names +
                                        "): the gateway writes no file through a link");
    }
    std::string error;
    long holder = 0;
    if (!g_lock.Take(folder, error, holder)) return Refuse(program, err, error + "; this one stops");
    if (!g_store.Open(folder + "/" + CStateStore::FILE_NAME, error)) return Refuse(program, err, error);
    g_strStorePath = folder + "/" + CStateStore::FILE_NAME;
    std::vector<std::string> damaged;
    if (!g_store.ImportOldFiles(folder, damaged, error)) return Refuse(program, err, error);
    for (const std::string& line : damaged)
        Journal(JOURNAL_WARNING, "damaged state file: %s (kept in the reject table)", line.c_str());
    return 0;
}
