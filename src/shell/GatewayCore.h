#pragma once
// What a running server is made of, with or without a window: the run state, the status
// board, the modem driver, the database layer, the engine and its worker loop. It lives on
// the heap, shared with the worker thread, so a worker given up at shutdown never touches
// a destroyed host.
#include "config/SettingsFile.h"
#include "db/AdoDatabase.h"
#include "engine/Adapters.h"
#include "engine/Clock.h"
#include "engine/Gateway.h"
#include "engine/RunState.h"
#include "engine/StatusBoard.h"
#include "engine/Worker.h"
#include "modem/Mobile.h"
#include "shell/GatewayHttp.h"
#include "shell/StatusFile.h"
#include "webhook/WebhookSender.h"

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct CGatewayCore {
    CGatewayCore();

    // After LoadSettings: the saved retry settings reach the driver; the engine keeps its
    // records in the state store of the folder this process took; settings changed
    // by another process (or a reload request) reach the gateway.
    void ApplyLoadedSettings();
    // With webhook_url set, the webhook sender delivers the events the engine queues; a
    // changed url or secret restarts it, an empty url stops the queueing.
    void ApplyWebhooks();
    // Starts the HTTP interface, or restarts it after its address or token changed.
    void ApplyHttp();
    // Makes every wait inside the driver end once this core's stop flag is set.
    static void InstallStopCheck(const std::shared_ptr<CGatewayCore>& core);
    // Starts the worker thread at raised priority; `body` runs the loop (the worker's own
    // unless a test replaces it) and workerEnded is set when it returns.
    static std::thread StartWorker(const std::shared_ptr<CGatewayCore>& core, std::function<void()> body);
    // "Stop && Exit...": the HTTP interface stopped, paused, stop requested, the worker woken.
    void RequestStop();
    // What `pellwick -status` prints of this gateway, as name=value lines. Any thread.
    std::string StatusSnapshot() const;

    RunState run;
    CGatewayClock clock;
    CStatusBoard status{run, clock};
    CMobile mobile;
    CMobilePort modemPort{mobile};
    CAdoDatabase db;
    CDatabasePort dbPort{db};
    CGateway gateway;
    CWorker worker{gateway, theSettings, run, status, clock};
    std::atomic<bool> workerEnded{false};
    std::time_t started = std::time(nullptr);
    // Kept up to date while this process holds its state folder; goes first, with its thread.
    std::unique_ptr<CStatusFile> statusFile;
    std::mutex webhooksMutex;  // guards webhooks against RequestStop from another thread
    std::unique_ptr<CWebhookSender> webhooks;
    bool webhooksApplied = false;
    std::string webhookUrl, webhookSecret;  // what webhooks were last applied with
    // Answers from the engine's counters and a database connection of its own; the engine
    // tells it of each message and submission.
    CGatewayHttp http{gateway, run, status};
};
