// RunMainDialog of the executable: the window comes from its module, loaded only when
// there is a screen to show it on; a run without one never maps a Qt library.
#include "config/MessageHook.h"
#include "shell/DialogHost.h"
#include "shell/HeadlessRun.h"
#include "shell/ServiceProcess.h"

#include <dlfcn.h>

#include <string>

int RunMainDialog(CServiceProcess& process, int argc, char** argv) {
    if (RunsHeadless(process)) return RunHeadless(process);
    // Found beside the executable (its run path), and never unloaded.
    void* module = ::dlopen(WINDOW_MODULE, RTLD_NOW | RTLD_LOCAL);
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
