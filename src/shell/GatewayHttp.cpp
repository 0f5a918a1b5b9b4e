#include "shell/GatewayHttp.h"

#include "config/SettingFields.h"
#include "config/SettingsFile.h"
#include "db/DbError.h"
#include "db/SqlCommand.h"
#include "engine/OutboxInsert.h"
#include "link/Clock.h"
#include "link/Journal.h"

#include <algorithm>
#include <ctime>

namespace {

bool SimCondition(int condition) { return condition >= STATUS_SIM_PIN_MISSING && condition <= STATUS_SIM_NOT_READY; }

}  // namespace

CGatewayHttpBackend::CGatewayHttpBackend(const CGateway& gateway, const RunState& run, const CStatusBoard& status)
    : m_gateway(gateway), m_run(run), m_status(status) {}

void CGatewayHttpBackend::SetSettings(const CSettings& settings) {
    std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

CSettings CGatewayHttpBackend::CurrentSettings() {
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void CGatewayHttpBackend::SetWebhookStore(const std::string& path) {
    std::lock_guard lock(m_storeMutex);
    if (path == m_strStorePath) return;
    m_store.Close();
    m_strStorePath = path;
}

void CGatewayHttpBackend::NoteDatabase(const std::string& error) {
    const bool failing = !error.empty();
    if (failing && !m_bDbFailing) Journal(JOURNAL_WARNING, "HTTP interface: %s", error.c_str());
    if (!failing && m_bDbFailing) Journal(JOURNAL_NOTICE, "HTTP interface: the database answers again");
    m_bDbFailing = failing;
}

SendResult CGatewayHttpBackend::Send(const std::string& to, const std::string& text) {
    const CSettings settings = CurrentSettings();
    std::lock_guard lock(m_dbMutex);
    m_db.SetLogin(settings.m_strDsn, settings.m_strDbUser, settings.m_strDbPassword);
    const OutboxInsertResult inserted = InsertOutboxMessage(
        settings, [this](const SqlCommand& command) { return m_db.ExecuteOnce(command); }, to, text);
    SendResult result;
    result.queued = inserted.outcome == OutboxInsertResult::Queued;
    result.id = inserted.id;
    result.error = inserted.error;
    if (inserted.outcome != OutboxInsertResult::Invalid) NoteDatabase(result.queued ? "" : inserted.error);
    if (result.queued && result.id.empty() && !m_bIdWarned) {
        // Queued, but nobody can ask for it: said once, so the template gets fixed.
        Journal(JOURNAL_WARNING, "HTTP interface: outbox_insert_sql returned no row and has no <MSGID>: the ids of "
                                 "the messages it queues are not known");
        m_bIdWarned = true;
    }
    return result;
}

StatusResult CGatewayHttpBackend::Status(const std::string& id) {
    const CSettings settings = CurrentSettings();
    StatusResult result;
    if (settings.m_strOutboxStatusSql.empty()) {
        result.error = "outbox_status_sql is empty";
        return result;
    }
    std::lock_guard lock(m_dbMutex);
    m_db.SetLogin(settings.m_strDsn, settings.m_strDbUser, settings.m_strDbPassword);
    try {
        const std::optional<std::string> status =
            m_db.ExecuteOnce(BindTemplate(settings.m_strOutboxStatusSql, {{"<MSGID>", id}}, {}));
        if (!status) {
            NoteDatabase("");
            result.outcome = StatusResult::Outcome::NotFound;
            return result;
        }
        const std::optional<int> number = ParseSettingInteger(*status);
        if (number) {
            result.outcome = StatusResult::Outcome::Found;
            result.status = *number;
        } else {
            result.error = "outbox_status_sql returned \"" + CutUtf8(*status, 40) + "\", not a number";
        }
    } catch (const CDbError& e) {
        result.error = std::string("outbox_status_sql failed: ") + e.what();
    }
    NoteDatabase(result.error);
    return result;
}

GatewaySnapshot CGatewayHttpBackend::Snapshot() {
    GatewaySnapshot snapshot;
    const GatewayCounts counts = m_gateway.Counts();
    const DeviceInfo device = m_gateway.Device();
    const int condition = m_status.Condition();
    snapshot.sent = static_cast<std::uint64_t>(counts.sent);
    snapshot.failed = static_cast<std::uint64_t>(counts.failed);
    snapshot.unknown = static_cast<std::uint64_t>(counts.unknown);
    snapshot.received = static_cast<std::uint64_t>(counts.received);
    snapshot.rejected = static_cast<std::uint64_t>(std::max(0LL, counts.rejected));
    snapshot.modemUp = m_run.m_bDeviceLinked == 1;
    snapshot.databaseUp = m_run.m_bDatabaseLinked == 1;
    snapshot.outboxPending = snapshot.databaseUp ? counts.pending : -1;
    snapshot.simReady = snapshot.modemUp && !SimCondition(condition);
    snapshot.networkUp = snapshot.modemUp && condition < STATUS_SIM_PIN_MISSING && !device.network.empty();
    if (snapshot.modemUp) {
        snapshot.signalQuality = device.signal;
        snapshot.batteryPercent = device.battery;
    }
    if (std::string error = LastJournalError(); !error.empty()) snapshot.lastErrors.push_back(std::move(error));
    {
        std::lock_guard lock(m_activityMutex);
        snapshot.submission = m_submission;
        snapshot.recentMessages.assign(m_recent.begin(), m_recent.end());
    }
    std::lock_guard lock(m_storeMutex);
    if (!m_strStorePath.empty()) {
        std::string error;
        if (m_store.IsOpen() || m_store.Open(m_strStorePath, error)) snapshot.webhookQueueDepth = m_store.CountEvents();
    }
    return snapshot;
}

void CGatewayHttpBackend::MessageDone(bool outgoing, const std::string& phone, const std::string& text,
                                      const char* result) {
    RecentMessage message{LocalTimeText(std::time(nullptr)), outgoing, CutUtf8(phone, 40), CutUtf8(text, RECENT_TEXT_BYTES), result};
    std::lock_guard lock(m_activityMutex);
    m_recent.push_front(std::move(message));
    if (m_recent.size() > RECENT_MESSAGES) m_recent.pop_back();
}

void CGatewayHttpBackend::Submitted(double seconds) {
    std::lock_guard lock(m_activityMutex);
    m_submission.Observe(seconds);
}

CGatewayHttp::CGatewayHttp(const CGateway& gateway, const RunState& run, const CStatusBoard& status)
    : m_backend(gateway, run, status) {}

void CGatewayHttp::Apply(const CSettings& settings) {
    m_backend.SetSettings(settings);
    const std::string token = ReadHttpToken(settings);
    std::lock_guard lock(m_mutex);
    if (m_bStopped || (m_bApplied && settings.m_strHttpListen == m_strListen && token == m_strToken)) return;
    const bool wasRunning = m_server.Running();
    m_server.Stop();
    m_bApplied = true;
    m_strListen = settings.m_strHttpListen;
    m_strToken = token;
    HttpConfig config;
    config.listen = m_strListen;
    config.token = m_strToken;
    if (const std::string error = m_server.Start(config); !error.empty())
        Journal(JOURNAL_ERR, "HTTP interface: %s; the gateway runs without it", error.c_str());
    else if (m_server.Running())
        Journal(JOURNAL_NOTICE, "HTTP interface listening on %s (port %u)", m_strListen.c_str(), m_server.Port());
    else if (wasRunning)
        Journal(JOURNAL_NOTICE, "HTTP interface stopped: http_listen is empty");
}

void CGatewayHttp::Stop() {
    std::lock_guard lock(m_mutex);
    m_bStopped = true;
    m_server.Stop();
}
