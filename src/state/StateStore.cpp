#include "state/StateStore.h"

#include "link/Journal.h"
#include "state/Statement.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "PwSt": tells a state store from any other SQLite file.
constexpr int kApplicationId = 0x50775374;
constexpr int kSchemaVersion = 2;

const char* const kSchema = R"(
create table if not exists outbound_journal(
    seq integer primary key,
    msgid text not null unique,
    state text not null check (state in ('claimed', 'prompting', 'sending', 'result')),
    result integer not null default 0,
    phone text not null default '',
    reason text not null default '');
create table if not exists waiting_messages(
    id integer primary key,
    received integer not null,
    phone text not null,
    text text not null,
    time text not null);
create table if not exists message_parts(
    id integer primary key,
    phone text not null,
    reference integer not null,
    count integer not null,
    number integer not null,
    text text not null,
    time text not null,
    arrived_ms integer not null);
create table if not exists submissions(
    id integer primary key,
    reference integer not null,
    msgid text not null,
    phone text not null,
    sent_ms integer not null);
create table if not exists waiting_reports(
    id integer primary key,
    reference integer not null,
    phone text not null,
    discharge text not null,
    status integer not null);
create table if not exists rejected(
    id integer primary key,
    at text not null,
    store text not null,
    idx integer not null,
    pdu text not null,
    reason text not null,
    phone text not null default '',
    text text not null default '');
create table if not exists imported(name text primary key, at integer not null);
create table if not exists webhook_events(
    id integer primary key,
    event_id text not null unique,
    body text not null,
    attempts integer not null default 0,
    next_try_ms integer not null default 0,
    created_ms integer not null);
)";

// A store of version 1 has a journal without the number and the reason.
const char* const kJournalColumns = R"(
alter table outbound_journal add column phone text not null default '';
alter table outbound_journal add column reason text not null default '';
)";

const char* StateName(JournalState state) {
    switch (state) {
    case JournalState::Claimed: return "claimed";
    case JournalState::Prompting: return "prompting";
    case JournalState::Sending: return "sending";
    case JournalState::Result: break;
    }
    return "result";
}

JournalState StateFromName(const std::string& name) {
    if (name == "claimed") return JournalState::Claimed;
    if (name == "prompting") return JournalState::Prompting;
    if (name == "sending") return JournalState::Sending;
    return JournalState::Result;
}

bool IsSymlink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

CStateStore::~CStateStore() { Close(); }

void CStateStore::Close() {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool CStateStore::Fail() {
    m_strError = m_db ? sqlite3_errmsg(m_db) : "the state store is not open";
    return false;
}

bool CStateStore::Exec(const char* sql) {
    if (m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) {
        m_strError.clear();
        return true;
    }
    return Fail();
}

bool CStateStore::Transaction(const std::function<bool()>& change) {
    if (!Exec("begin immediate")) return false;
    if (change() && Exec("commit")) return true;
    const std::string error = m_strError.empty() && m_db ? sqlite3_errmsg(m_db) : m_strError;
    Exec("rollback");
    m_strError = error;
    return false;
}

bool CStateStore::Open(const std::string& path, std::string& error) {
    Close();
    if (!path.empty()) {
        // SQLite's NOFOLLOW covers the database itself; its companions are checked here.
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            if (!IsSymlink(path + suffix)) continue;
            error = path + suffix + " is a symbolic link: the state store is not opened through it";
            return false;
        }
        // Created private before SQLite sees it; its -wal and -shm files take this mode.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        const bool privateMode = ::fchmod(fd, 0600) == 0;
        ::close(fd);
        if (!privateMode) {
            error = "cannot make " + path + " private: " + std::strerror(errno);
            return false;
        }
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    const std::string name = path.empty() ? ":memory:" : path;
    const std::string shown = path.empty() ? "the state store" : path;
    if (sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        error = "cannot open " + shown + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);

    // Damage is found before anything is read or written.
    std::string check;
    {
        Statement quick(m_db, "pragma quick_check");
        check = quick.Row() ? quick.TextAt(0) : sqlite3_errmsg(m_db);
    }
    long long applicationId = 0, tables = 0;
    if (check == "ok") {
        Statement id(m_db, "pragma application_id");
        applicationId = id.Row() ? id.IntAt(0) : 0;
        Statement count(m_db, "select count(*) from sqlite_master");
        tables = count.Row() ? count.IntAt(0) : 0;
    }
    if (check != "ok") {
        error = shown + " is damaged (" + check + "): the gateway does not start on it";
    } else if (applicationId != kApplicationId && tables > 0) {
        error = shown + " is an SQLite file of another program: the gateway does not start on it";
    } else {
        bool walMode = false;
        {
            Statement wal(m_db, "pragma journal_mode=wal");
            walMode = wal.Row() && (path.empty() || wal.TextAt(0) == "wal");
        }
        long long version = 0;
        {
            Statement user(m_db, "pragma user_version");
            version = user.Row() ? user.IntAt(0) : 0;
        }
        if (walMode && Exec("pragma synchronous=full") &&
            Transaction([&] {
                return Exec(kSchema) && (version != 1 || Exec(kJournalColumns)) &&
                       Exec(("pragma application_id=" + std::to_string(kApplicationId)).c_str()) &&
                       Exec(("pragma user_version=" + std::to_string(kSchemaVersion)).c_str());
            }))
            return true;
        error = "cannot set up " + shown + ": " + (m_strError.empty() ? sqlite3_errmsg(m_db) : m_strError);
    }
    Close();
    return false;
}

bool CStateStore::WithEvent(const WebhookEvent* event, const std::function<bool()>& change) {
    if (!event) return change();
    return Transaction([&] { return change() && InsertEvent(*event); });
}

std::vector<JournalEntry> CStateStore::LoadJournal() {
    std::vector<JournalEntry> entries;
    Statement select(m_db, "select msgid, state, result, phone, reason from outbound_journal order by seq");
    while (select.Row())
        entries.push_back({select.TextAt(0), StateFromName(select.TextAt(1)), static_cast<int>(select.IntAt(2)),
                           select.TextAt(3), select.TextAt(4)});
    return entries;
}

bool CStateStore::PutJournal(const JournalEntry& entry) {
    Statement put(m_db,
                  "insert into outbound_journal(msgid, state, result, phone, reason) values(?, ?, ?, ?, ?) "
                  "on conflict(msgid) do update set state = excluded.state, result = excluded.result, "
                  "phone = excluded.phone, reason = excluded.reason");
    return put.Text(entry.msgId).Text(StateName(entry.state)).Int(entry.result).Text(entry.phone).Text(entry.reason)
               .Run() ||
           Fail();
}

bool CStateStore::DropJournal(const std::string& msgId, const WebhookEvent* event) {
    return WithEvent(event, [&] {
        return Statement(m_db, "delete from outbound_journal where msgid = ?").Text(msgId).Run() || Fail();
    });
}

std::vector<SpooledMessage> CStateStore::LoadSpool() {
    std::vector<SpooledMessage> messages;
    Statement select(m_db, "select id, received, phone, text, time from waiting_messages order by id");
    while (select.Row())
        messages.push_back({select.IntAt(0), select.IntAt(1), select.TextAt(2), select.TextAt(3), select.TextAt(4)});
    return messages;
}

bool CStateStore::AddSpooled(SpooledMessage& message) {
    Statement add(m_db, "insert into waiting_messages(received, phone, text, time) values(?, ?, ?, ?)");
    if (!add.Int(message.received).Text(message.phone).Text(message.text).Text(message.time).Run()) return Fail();
    message.id = sqlite3_last_insert_rowid(m_db);
    return true;
}

bool CStateStore::DropSpooled(long long id, const WebhookEvent* event) {
    return WithEvent(event,
                     [&] { return Statement(m_db, "delete from waiting_messages where id = ?").Int(id).Run() || Fail(); });
}

std::vector<MessagePart> CStateStore::LoadParts() {
    std::vector<MessagePart> parts;
    Statement select(m_db,
                     "select phone, reference, count, number, text, time, arrived_ms from message_parts order by id");
    while (select.Row())
        parts.push_back({select.TextAt(0), static_cast<int>(select.IntAt(1)), static_cast<int>(select.IntAt(2)),
                         static_cast<int>(select.IntAt(3)), select.TextAt(4), select.TextAt(5), select.IntAt(6)});
    return parts;
}

bool CStateStore::InsertPart(const MessagePart& part) {
    Statement add(m_db,
                  "insert into message_parts(phone, reference, count, number, text, time, arrived_ms) "
                  "values(?, ?, ?, ?, ?, ?, ?)");
    return add.Text(part.phone).Int(part.reference).Int(part.count).Int(part.number).Text(part.text).Text(part.time)
               .Int(part.arrivedMs).Run() ||
           Fail();
}

bool CStateStore::AddPart(const MessagePart& part) { return InsertPart(part); }

bool CStateStore::MarkStored(const MessagePart& marker, const WebhookEvent* event) {
    return Transaction([&] {
        Statement drop(m_db, "delete from message_parts where phone = ? and reference = ? and count = ?");
        return (drop.Text(marker.phone).Int(marker.reference).Int(marker.count).Run() || Fail()) &&
               InsertPart(marker) && (!event || InsertEvent(*event));
    });
}

bool CStateStore::ForgetStored(long long arrivedBeforeMs) {
    return Statement(m_db, "delete from message_parts where number = 0 and arrived_ms < ?").Int(arrivedBeforeMs).Run() ||
           Fail();
}

std::vector<Submission> CStateStore::LoadSubmissions() {
    std::vector<Submission> submissions;
    Statement select(m_db, "select reference, msgid, phone, sent_ms from submissions order by id");
    while (select.Row())
        submissions.push_back({static_cast<int>(select.IntAt(0)), select.TextAt(1), select.TextAt(2), select.IntAt(3)});
    return submissions;
}

bool CStateStore::AddSubmission(const Submission& submission, long long forgetBeforeMs) {
    return Transaction([&] {
        Statement forget(m_db, "delete from submissions where sent_ms < ?");
        Statement add(m_db, "insert into submissions(reference, msgid, phone, sent_ms) values(?, ?, ?, ?)");
        return (forget.Int(forgetBeforeMs).Run() || Fail()) &&
               (add.Int(submission.reference).Text(submission.msgId).Text(submission.phone).Int(submission.sentMs).Run() ||
                Fail());
    });
}

bool CStateStore::DropSubmission(const Submission& submission, long long forgetBeforeMs, const WebhookEvent* event) {
    return Transaction([&] {
        Statement drop(m_db,
                       "delete from submissions where id = (select id from submissions where reference = ? and "
                       "msgid = ? and phone = ? and sent_ms = ? limit 1) or sent_ms < ?");
        return (drop.Int(submission.reference).Text(submission.msgId).Text(submission.phone).Int(submission.sentMs)
                    .Int(forgetBeforeMs).Run() ||
                Fail()) &&
               (!event || InsertEvent(*event));
    });
}

std::vector<WaitingReport> CStateStore::LoadWaitingReports() {
    std::vector<WaitingReport> reports;
    Statement select(m_db, "select id, reference, phone, discharge, status from waiting_reports order by id");
    while (select.Row())
        reports.push_back({select.IntAt(0), static_cast<int>(select.IntAt(1)), select.TextAt(2), select.TextAt(3),
                           static_cast<int>(select.IntAt(4))});
    return reports;
}

bool CStateStore::AddWaitingReport(WaitingReport& report) {
    Statement add(m_db, "insert into waiting_reports(reference, phone, discharge, status) values(?, ?, ?, ?)");
    if (!add.Int(report.reference).Text(report.phone).Text(report.discharge).Int(report.status).Run()) return Fail();
    report.id = sqlite3_last_insert_rowid(m_db);
    return true;
}

bool CStateStore::DropWaitingReport(long long id) {
    return Statement(m_db, "delete from waiting_reports where id = ?").Int(id).Run() || Fail();
}

bool CStateStore::InsertRejected(const RejectedPdu& rejected) {
    Statement add(m_db, "insert into rejected(at, store, idx, pdu, reason, phone, text) values(?, ?, ?, ?, ?, ?, ?)");
    Statement trim(m_db, "delete from rejected where id <= (select max(id) from rejected) - ?");
    return (add.Text(rejected.at).Text(rejected.store).Int(rejected.index).Text(rejected.pdu).Text(rejected.reason)
                .Text(rejected.phone).Text(rejected.text).Run() ||
            Fail()) &&
           (trim.Int(MAX_REJECTED).Run() || Fail());
}

bool CStateStore::AddRejected(const RejectedPdu& rejected) {
    return Transaction([&] { return InsertRejected(rejected); });
}

long long CStateStore::CountRejected() {
    Statement count(m_db, "select count(*) from rejected");
    if (!count.Row()) return Fail(), -1;
    return count.IntAt(0);
}

std::vector<RejectedPdu> CStateStore::LoadRejected() {
    std::vector<RejectedPdu> rejected;
    Statement select(m_db, "select at, store, idx, pdu, reason, phone, text from rejected order by id");
    while (select.Row())
        rejected.push_back({select.TextAt(0), select.TextAt(1), static_cast<int>(select.IntAt(2)), select.TextAt(3),
                            select.TextAt(4), select.TextAt(5), select.TextAt(6)});
    return rejected;
}

bool CStateStore::InsertEvent(const WebhookEvent& event) {
    Statement add(m_db, "insert or ignore into webhook_events(event_id, body, created_ms) values(?, ?, ?)");
    Statement trim(m_db, "delete from webhook_events where id <= (select max(id) from webhook_events) - ?");
    if (!add.Text(event.eventId).Text(event.body).Int(event.createdMs).Run() || !trim.Int(MAX_EVENTS).Run())
        return Fail();
    // While the queue overflows, the journal hears of it once a minute.
    m_droppedEvents += sqlite3_changes(m_db);
    const auto now = std::chrono::steady_clock::now();
    if (m_droppedEvents > 0 && (m_lastDropNote == decltype(now){} || now - m_lastDropNote >= std::chrono::minutes(1))) {
        Journal(JOURNAL_WARNING, "the webhook queue is full (%d events): %lld of the oldest were dropped unsent",
                MAX_EVENTS, m_droppedEvents);
        m_droppedEvents = 0;
        m_lastDropNote = now;
    }
    return true;
}

bool CStateStore::QueueEvent(const WebhookEvent& event) {
    return Transaction([&] { return InsertEvent(event); });
}

bool CStateStore::NextEvent(WebhookEvent& event) {
    Statement next(m_db,
                   "select id, event_id, body, attempts, next_try_ms, created_ms from webhook_events order by id limit 1");
    if (!next.Row()) return false;
    event = {next.IntAt(0), next.TextAt(1), next.TextAt(2), static_cast<int>(next.IntAt(3)), next.IntAt(4),
             next.IntAt(5)};
    return true;
}

bool CStateStore::DropEvent(long long id) {
    return Statement(m_db, "delete from webhook_events where id = ?").Int(id).Run() || Fail();
}

bool CStateStore::PostponeEvent(long long id, int attempts, long long nextTryMs) {
    Statement postpone(m_db, "update webhook_events set attempts = ?, next_try_ms = ? where id = ?");
    return postpone.Int(attempts).Int(nextTryMs).Int(id).Run() || Fail();
}

long long CStateStore::CountEvents() {
    Statement count(m_db, "select count(*) from webhook_events");
    return count.Row() ? count.IntAt(0) : 0;
}
