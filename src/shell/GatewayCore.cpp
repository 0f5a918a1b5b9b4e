#include "shell/GatewayCore.h"

#include "config/SettingFields.h"
#include "link/Clock.h"
#include "link/Journal.h"
#include "shell/GatewayState.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

// The SIM as the device link last found it.
std::string SimState(int condition, bool linked) {
    if (condition >= STATUS_SIM_PIN_MISSING && condition <= STATUS_SIM_NOT_READY) return StatusText(condition);
    return linked ? "ready" : "unknown";
}

// The worker runs at the best priority an ordinary thread may take: the lowest nice
// value the process is allowed. Never a real-time class: a loop that spun would
// freeze the machine.
void RaiseThreadPriority() {
    const pid_t tid = static_cast<pid_t>(::gettid());
    for (int nice = -20; nice < 0; ++nice)
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return;
}

}  // namespace

CGatewayCore::CGatewayCore()
    : gateway(theSettings, run, status, clock, modemPort, dbPort, [] { return SaveSettings(); }) {
    gateway.SetActivity(&http.Backend());
}

void CGatewayCore::ApplyLoadedSettings() {
    mobile.SetRetryInterval(theSettings.m_nRetryInterval);
    mobile.SetSendAttempts(theSettings.m_nRetryCount + 1);
    gateway.SetInstance(InstanceName(), IsNamedInstance());
    gateway.SetStateStore(GatewayStateStore().IsOpen() ? &GatewayStateStore() : nullptr);
    if (GatewayStateStore().IsOpen() && !statusFile)
        statusFile = std::make_unique<CStatusFile>(StatePath(STATUS_FILE_NAME), [this] { return StatusSnapshot(); });
    ApplyWebhooks();
    ApplyHttp();
    // A `-set` from a shell, or systemctl reload, reaches the running gateway.
    gateway.SetSettingsSync([this] {
        const bool reload = TakeSettingsReloadRequest();
        if (reload) Journal(JOURNAL_NOTICE, "reloading the settings");
        const int effect = SyncSettings(reload);
        // The window changes the record without the files: the requests take it each pass.
        http.Backend().SetSettings(theSettings);
        if (effect != EFFECT_NONE || reload) {
            ApplyWebhooks();
            ApplyHttp();
        }
        return effect;
    });
}

void CGatewayCore::ApplyWebhooks() {
    const std::string url = theSettings.m_strWebhookUrl, secret = theSettings.m_strWebhookSecret;
    if (!GatewayStateStore().IsOpen() || (webhooksApplied && url == webhookUrl && secret == webhookSecret)) return;
    webhooksApplied = true;
    webhookUrl = url;
    webhookSecret = secret;
    std::lock_guard lock(webhooksMutex);
    const bool wasOn = webhooks != nullptr;
    if (wasOn) {
        // Queued events stay in the store, for the receiver the settings name from now on.
        gateway.SetWebhooks(false);
        http.Backend().SetWebhookStore("");
        webhooks->Stop();
        webhooks.reset();
    }
    if (url.empty()) {
        if (wasOn) Journal(JOURNAL_NOTICE, "webhook_url is empty: no more webhook events are queued");
        return;
    }
    // Pellwick.conf keeps a value its check refused, with an error in the journal.
    if (const auto problem = FindSettingField("webhook_url")->check(url)) {
        Journal(JOURNAL_ERR, "webhook_url %s: no webhook events are queued", problem->c_str());
        return;
    }
    if (secret.empty())
        Journal(JOURNAL_WARNING, "webhook_secret is empty: the receiver cannot tell the gateway's events from others");
    webhooks = std::make_unique<CWebhookSender>(GatewayStatePath(), url, secret);
    webhooks->Start();
    gateway.SetWebhooks(true);
    http.Backend().SetWebhookStore(GatewayStatePath());
    Journal(JOURNAL_NOTICE, "webhook events are delivered to the receiver set in webhook_url");
}

void CGatewayCore::ApplyHttp() {
    // Only a run that holds its state folder serves: two gateways on one folder never both listen.
    if (GatewayStateStore().IsOpen()) http.Apply(theSettings);
}

void CGatewayCore::InstallStopCheck(const std::shared_ptr<CGatewayCore>& core) {
    std::weak_ptr<CGatewayCore> weak = core;
    SystemClock().SetStopCheck([weak] {
        auto c = weak.lock();
        return !c || c->run.m_bStop.load() != 0;
    });
}

std::thread CGatewayCore::StartWorker(const std::shared_ptr<CGatewayCore>& core, std::function<void()> body) {
    return std::thread([core, body = std::move(body)] {
        RaiseThreadPriority();
        body();
        core->workerEnded = true;
    });
}

void CGatewayCore::RequestStop() {
    // Requests under way are answered first; none come in while the engine stops.
    http.Stop();
    run.m_bRunning = 0;
    run.m_bStop = 1;
    worker.Wake();
    // What is still queued is delivered after the next start.
    std::lock_guard lock(webhooksMutex);
    if (webhooks) webhooks->RequestStop();
}

std::string CGatewayCore::StatusSnapshot() const {
    const DeviceInfo device = gateway.Device();
    const GatewayCounts counts = gateway.Counts();
    const bool modemUp = run.m_bDeviceLinked == 1;
    std::string text;
    auto line = [&text](const char* name, const std::string& value) { text += std::string(name) + "=" + value + "\n"; };
    line("state", run.m_bStop ? "stopping" : run.m_bRunning ? "running" : "paused");
    line("pid", std::to_string(::getpid()));
    line("status", status.Text());
    line("modem", modemUp ? "up" : "down");
    line("database", run.m_bDatabaseLinked == 1 ? "up" : "down");
    line("sim", SimState(status.Condition(), modemUp));
    line("network", modemUp && !device.network.empty() ? device.network : "unknown");
    line("sent", std::to_string(counts.sent));
    line("failed", std::to_string(counts.failed));
    line("unknown", std::to_string(counts.unknown));
    line("received", std::to_string(counts.received));
    line("rejected", std::to_string(counts.rejected));
    line("pending", std::to_string(counts.pending));
    line("last_error", LastJournalError());
    line("since", LocalTimeText(started));
    return text;
}
