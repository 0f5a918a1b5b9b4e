#pragma once
// The HTTP interface of a running gateway: the backend that answers it from the engine's
// counters, the run state and a database connection of its own, and the server, started
// and restarted as http_listen and the token say.
#include "config/Settings.h"
#include "db/AdoDatabase.h"
#include "engine/Activity.h"
#include "engine/Gateway.h"
#include "http/HttpServer.h"
#include "state/StateStore.h"

#include <deque>
#include <mutex>
#include <string>

// Answers the server's threads without ever waiting on the worker or the modem: the
// counters and states are atomics or short locks, and the messages go through a database
// connection of its own (one request at a time on it).
class CGatewayHttpBackend : public IHttpBackend, public IGatewayActivity {
public:
    static constexpr std::size_t RECENT_MESSAGES = 20;
    static constexpr std::size_t RECENT_TEXT_BYTES = 160;

    CGatewayHttpBackend(const CGateway& gateway, const RunState& run, const CStatusBoard& status);

    // The settings the requests use from now on (the templates, the data source).
    void SetSettings(const CSettings& settings);
    // The state store whose webhook queue /metrics shows; "" while webhooks are off.
    void SetWebhookStore(const std::string& path);

    SendResult Send(const std::string& to, const std::string& text) override;
    StatusResult Status(const std::string& id) override;
    GatewaySnapshot Snapshot() override;

    void MessageDone(bool outgoing, const std::string& phone, const std::string& text, const char* result) override;
    void Submitted(double seconds) override;

private:
    CSettings CurrentSettings();
    // With m_dbMutex held: one journal line when the database starts or stops failing
    // ("" for a statement that worked), not one per request.
    void NoteDatabase(const std::string& error);

    const CGateway& m_gateway;
    const RunState& m_run;
    const CStatusBoard& m_status;
    std::mutex m_settingsMutex;  // guards m_settings
    CSettings m_settings;
    std::mutex m_dbMutex;  // guards the three below
    CPrivateDbConnection m_db;
    bool m_bDbFailing = false, m_bIdWarned = false;
    std::mutex m_storeMutex;  // guards the two below
    std::string m_strStorePath;
    CStateStore m_store;
    std::mutex m_activityMutex;  // guards the two below
    std::deque<RecentMessage> m_recent;  // newest first
    LatencyHistogram m_submission;
};

// The server as the settings say. Apply and Stop may come from different threads.
class CGatewayHttp {
public:
    CGatewayHttp(const CGateway& gateway, const RunState& run, const CStatusBoard& status);
    ~CGatewayHttp() { Stop(); }

    // Takes the settings; starts the server, or restarts it when the address or the token
    // (ReadHttpToken) changed. A configuration it cannot run on goes to the journal and
    // leaves the interface off: the gateway runs on without it.
    void Apply(const CSettings& settings);
    // Stops the server for good: a later Apply does not start it again.
    void Stop();
    CGatewayHttpBackend& Backend() { return m_backend; }
    unsigned Port() const { return m_server.Port(); }

private:
    CGatewayHttpBackend m_backend;
    CHttpServer m_server{m_backend};
    std::mutex m_mutex;  // guards the server's start and stop and the members below
    bool m_bApplied = false, m_bStopped = false;
    std::string m_strListen, m_strToken;  // what the server was last started with
};
