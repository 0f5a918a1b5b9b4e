#include "shell/GatewayCore.h"

#include "config/SettingFields.h"
#include "link/Journal.h"
#include "shell/GatewayState.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

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
    : gateway(theSettings, run, status, clock, modemPort, dbPort, [] { return SaveSettings(); }) {}

void CGatewayCore::ApplyLoadedSettings() {
    mobile.SetRetryInterval(theSettings.m_nRetryInterval);
    mobile.SetSendAttempts(theSettings.m_nRetryCount + 1);
    gateway.SetInstance(InstanceName(), IsNamedInstance());
    gateway.SetStateStore(GatewayStateStore().IsOpen() ? &GatewayStateStore() : nullptr);
    StartWebhooks();
    // A `-set` from a shell, or systemctl reload, reaches the running gateway.
    gateway.SetSettingsSync([] {
        const bool reload = TakeSettingsReloadRequest();
        if (reload) Journal(JOURNAL_NOTICE, "reloading the settings");
        return SyncSettings(reload);
    });
}

void CGatewayCore::StartWebhooks() {
    const std::string& url = theSettings.m_strWebhookUrl;
    if (url.empty() || webhooks || !GatewayStateStore().IsOpen()) return;
    // Pellwick.conf keeps a value its check refused, with an error in the journal.
    if (const auto problem = FindSettingField("webhook_url")->check(url)) {
        Journal(JOURNAL_ERR, "webhook_url %s: no webhook events are queued", problem->c_str());
        return;
    }
    if (theSettings.m_strWebhookSecret.empty())
        Journal(JOURNAL_WARNING, "webhook_secret is empty: the receiver cannot tell the gateway's events from others");
    webhooks = std::make_unique<CWebhookSender>(GatewayStatePath(), url, theSettings.m_strWebhookSecret);
    webhooks->Start();
    gateway.SetWebhooks(true);
    Journal(JOURNAL_NOTICE, "webhook events are delivered to the receiver set in webhook_url");
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
    run.m_bRunning = 0;
    run.m_bStop = 1;
    worker.Wake();
    // What is still queued is delivered after the next start.
    if (webhooks) webhooks->RequestStop();
}
