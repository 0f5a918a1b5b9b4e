#include "shell/DialogHost.h"

#include "config/SettingsFile.h"
#include "link/Journal.h"
#include "shell/HeadlessRun.h"
#include "shell/MainDialog.h"
#include "shell/ServiceProcess.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

bool ChooseQtPlatform() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) return false;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}

int RunMainWindow(CServiceProcess& process, int argc, char** argv) {
    std::unique_ptr<QApplication> app;
    static int appArgc = 1;
    static char defaultName[] = "pellwick";
    static char* appArgv[] = {defaultName, nullptr};
    if (!QCoreApplication::instance()) {
        if (argc > 0 && argv && argv[0]) appArgv[0] = argv[0];
        ChooseQtPlatform();
        app = std::make_unique<QApplication>(appArgc, appArgv);
        // The main window stays hidden most of the time; closing a page must not end the process.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    Journal(JOURNAL_NOTICE, "started, version %s, settings in %s", PELLWICK_VERSION, StateFolder().c_str());
    MainDialog dialog;
    process.RecordDialog([&dialog](int command) { dialog.PostCommand(command); });
    int result = dialog.exec();
    process.ForgetDialog();
    Journal(JOURNAL_NOTICE, "stopped");
    return result;
}

#ifdef PW_WINDOW_MODULE
extern "C" __attribute__((visibility("default"))) int PellwickRunWindow(CServiceProcess* process, int argc,
                                                                         char** argv) {
    return RunMainWindow(*process, argc, argv);
}
#else
int RunMainDialog(CServiceProcess& process, int argc, char** argv) {
    if (!QCoreApplication::instance() && RunsHeadless(process)) return RunHeadless(process);
    return RunMainWindow(process, argc, argv);
}
#endif
