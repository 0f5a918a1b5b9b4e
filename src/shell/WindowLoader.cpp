// RunMainDialog of the executable: the window comes from its module, loaded only when
// there is a screen to show it on; a run without one never maps a Qt library.
#include "config/MessageHook.h"
#include "shell/DialogHost.h"
#include "shell/Entry.h"
#include "shell/HeadlessRun.h"
#include "shell/ServiceProcess.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {

// The module's full path, from the executable's own folder: beside the executable (the
// build tree, a copy in a folder of its own), otherwise lib/orvane-pellwick beside the
// bin folder of an installation (/usr/lib/orvane-pellwick for /usr/bin), which the
// package orvane-pellwick-desktop fills. Never searched for: a folder someone else
// controls, the current one included, cannot slip a library in.
std::string WindowModulePath() {
    const std::string executable = ExecutablePath();
    if (executable.empty()) return std::string();
    const std::string folder = FolderOf(executable);
    const std::string beside = folder + "/" + WINDOW_MODULE;
    if (::access(beside.c_str(), F_OK) == 0) return beside;
    return folder + "/../lib/orvane-pellwick/" + WINDOW_MODULE;
}

}  // namespace

int RunMainDialog(CServiceProcess& process, int argc, char** argv) {
    if (RunsHeadless(process)) return RunHeadless(process);
    // Never unloaded.
    const std::string path = WindowModulePath();
    void* module = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = int (*)(CServiceProcess*, int, char**);
    auto run = module ? reinterpret_cast<Entry>(::dlsym(module, WINDOW_ENTRY)) : nullptr;
    if (!run) {
        const char* why = ::dlerror();
        LogErrorMessage(std::string("The window cannot be shown (") + (why ? why : WINDOW_MODULE) +
                            "); the server runs without it.",
                        "Error");
        return RunHeadless(process);
    }
    return run(&process, argc, argv);
}
