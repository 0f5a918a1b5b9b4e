#include "shell/HeadlessRun.h"

#include "config/SettingsFile.h"
#include "link/Clock.h"
#include "link/Journal.h"
#include "link/LogFile.h"
#include "shell/GatewayCore.h"
#include "shell/Names.h"
#include "shell/ServiceProcess.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int kShutdownTickLimit = 30;

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool RunsHeadless(const CServiceProcess& process) {
    if (!process.m_bForeground) return true;
    return !Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM");
}

int RunHeadless(CServiceProcess& process) {
    auto core = std::make_shared<CGatewayCore>();
    theLog.PrintfTimed("%s started.\n", DISPLAY_NAME);
    Journal(JOURNAL_NOTICE, "started, version %s, settings in %s", PELLWICK_VERSION, StateFolder().c_str());
    LoadSettings();
    core->ApplyLoadedSettings();
    core->status.SetDisplay([](int, int, const std::string& text) { NotifyServiceStatusText(text); });
    core->status.StartDisplayThread();
    CGatewayCore::InstallStopCheck(core);
    // Fed every pass, and every second of a wait inside a step, so only a worker that hangs
    // goes unfed.
    if (auto feed = process.WatchdogFeeder()) {
        core->worker.SetWatchdog(std::move(feed));
        std::weak_ptr<CGatewayCore> weak = core;
        SystemClock().SetPump([weak] {
            if (auto c = weak.lock()) c->worker.FeedWatchdogWhileWaiting();
        });
    }

    std::mutex mutex;
    std::condition_variable stopCommand;
    bool stopping = false;
    process.RecordDialog([&](int command) {
        if (command != STOP_AND_EXIT_COMMAND) return;
        std::lock_guard lock(mutex);
        if (stopping) return;
        theLog.PrintfTimed("%s stopping.\n", DISPLAY_NAME);
        core->RequestStop();
        stopping = true;
        stopCommand.notify_all();
    });
    std::thread worker = CGatewayCore::StartWorker(core, [&w = core->worker] { w.WorkerThreadProc(); });
    {
        std::unique_lock lock(mutex);
        stopCommand.wait(lock, [&] { return stopping; });
    }
    process.ForgetDialog();

    // As the window's shutdown timer: once a second, until the worker has ended (it
    // clears the stop flag) or 31 seconds have passed; then the links are closed here.
    for (int ticks = 0; core->run.m_bStop != 0 && ticks <= kShutdownTickLimit; ++ticks)
        std::this_thread::sleep_for(std::chrono::seconds(1));
    core->gateway.DisconnectLinks();
    // A worker that hangs is left to the process exit; it holds what it uses.
    if (core->workerEnded)
        worker.join();
    else
        worker.detach();
    Journal(JOURNAL_NOTICE, "stopped");
    return 1;
}
