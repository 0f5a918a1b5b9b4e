#pragma once
// The state store: every record a gateway must not lose between two runs, in one SQLite
// database ("Pellwick.state" in the state folder). Each change is one transaction in
// write-ahead-log mode with synchronous=FULL: once a call returned true, the change
// survives a crash or a power cut. Nothing is ever rewritten whole.
//
// The engine sees the store through IStateStore; the unit tests use the same SQLite
// store on a private in-memory database.
#include "state/StateRecords.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct sqlite3;

class IStateStore {
public:
    virtual ~IStateStore() = default;

    // Every change below that takes an `event` also queues that webhook event (when not
    // nullptr) in the same transaction: the event is kept exactly when the change is.

    // Outbound journal, in the order the rows were first journalled. Put inserts or
    // changes the row's entry.
    virtual std::vector<JournalEntry> LoadJournal() = 0;
    virtual bool PutJournal(const JournalEntry& entry) = 0;
    virtual bool DropJournal(const std::string& msgId, const WebhookEvent* event = nullptr) = 0;

    // Direct messages waiting for the inbox, oldest first. Add sets message.id.
    virtual std::vector<SpooledMessage> LoadSpool() = 0;
    virtual bool AddSpooled(SpooledMessage& message) = 0;
    virtual bool DropSpooled(long long id, const WebhookEvent* event = nullptr) = 0;

    // Parts of concatenated messages. MarkStored drops every part of `marker`'s message
    // and keeps `marker` (number 0) in their place, in one transaction.
    virtual std::vector<MessagePart> LoadParts() = 0;
    virtual bool AddPart(const MessagePart& part) = 0;
    virtual bool MarkStored(const MessagePart& marker, const WebhookEvent* event = nullptr) = 0;
    virtual bool ForgetStored(long long arrivedBeforeMs) = 0;

    // Submissions waiting for a status report; both changes also forget submissions sent
    // before `forgetBeforeMs`.
    virtual std::vector<Submission> LoadSubmissions() = 0;
    virtual bool AddSubmission(const Submission& submission, long long forgetBeforeMs) = 0;
    virtual bool DropSubmission(const Submission& submission, long long forgetBeforeMs,
                                const WebhookEvent* event = nullptr) = 0;

    // Status reports waiting for the database, oldest first. Add sets report.id.
    virtual std::vector<WaitingReport> LoadWaitingReports() = 0;
    virtual bool AddWaitingReport(WaitingReport& report) = 0;
    virtual bool DropWaitingReport(long long id) = 0;

    // Rejected PDUs: the newest MAX_REJECTED are kept.
    static constexpr int MAX_REJECTED = 10000;
    virtual bool AddRejected(const RejectedPdu& rejected) = 0;
    virtual std::vector<RejectedPdu> LoadRejected() = 0;
    virtual long long CountRejected() = 0;  // -1 when it cannot be read

    // Webhook events waiting for the receiver, at most MAX_EVENTS: beyond that the oldest
    // are dropped, with a warning in the system journal (at most one a minute). An event
    // whose event_id is queued already is not queued twice.
    static constexpr int MAX_EVENTS = 100000;
    virtual bool QueueEvent(const WebhookEvent& event) = 0;

    // Why the last call failed (SQLite's message), "" after one that worked.
    virtual std::string LastError() const = 0;
};

class CStateStore : public IStateStore {
public:
    static constexpr const char* FILE_NAME = "Pellwick.state";

    CStateStore() = default;
    ~CStateStore() override;
    CStateStore(const CStateStore&) = delete;
    CStateStore& operator=(const CStateStore&) = delete;

    // Opens (creating, mode 0600) the store at `path`, never through a symbolic link, and
    // checks it: a file that is damaged or not a state store is refused, with `error`
    // naming it. An empty path opens a private in-memory store.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return m_db != nullptr; }
    void Close();

    // The state files of earlier versions in `folder` (Pellwick.journal, .spool, .parts,
    // .references, .rejected): read into the store in one transaction, then each renamed
    // to "<name>.imported". Lines that do not parse are kept as rejected records and
    // described in `damaged`. False (nothing imported, nothing renamed) when the
    // transaction failed; `error` says why.
    bool ImportOldFiles(const std::string& folder, std::vector<std::string>& damaged, std::string& error);

    std::vector<JournalEntry> LoadJournal() override;
    bool PutJournal(const JournalEntry& entry) override;
    bool DropJournal(const std::string& msgId, const WebhookEvent* event = nullptr) override;
    std::vector<SpooledMessage> LoadSpool() override;
    bool AddSpooled(SpooledMessage& message) override;
    bool DropSpooled(long long id, const WebhookEvent* event = nullptr) override;
    std::vector<MessagePart> LoadParts() override;
    bool AddPart(const MessagePart& part) override;
    bool MarkStored(const MessagePart& marker, const WebhookEvent* event = nullptr) override;
    bool ForgetStored(long long arrivedBeforeMs) override;
    std::vector<Submission> LoadSubmissions() override;
    bool AddSubmission(const Submission& submission, long long forgetBeforeMs) override;
    bool DropSubmission(const Submission& submission, long long forgetBeforeMs,
                        const WebhookEvent* event = nullptr) override;
    std::vector<WaitingReport> LoadWaitingReports() override;
    bool AddWaitingReport(WaitingReport& report) override;
    bool DropWaitingReport(long long id) override;
    bool AddRejected(const RejectedPdu& rejected) override;
    std::vector<RejectedPdu> LoadRejected() override;
    long long CountRejected() override;
    bool QueueEvent(const WebhookEvent& event) override;
    std::string LastError() const override { return m_strError; }

    // The webhook sender's side, on a connection of its own: the oldest event (false when
    // none is queued), its removal once the receiver took it, and a failed post counted.
    bool NextEvent(WebhookEvent& event);
    bool DropEvent(long long id);
    bool PostponeEvent(long long id, int attempts, long long nextTryMs);
    long long CountEvents();

private:
    class Statement;
    bool Exec(const char* sql);
    bool Fail();
    // Runs `change` inside BEGIN IMMEDIATE / COMMIT; rolls back when it returns false.
    bool Transaction(const std::function<bool()>& change);
    bool InsertPart(const MessagePart& part);
    bool InsertRejected(const RejectedPdu& rejected);
    bool InsertEvent(const WebhookEvent& event);
    // Runs `change`, with `event` queued in the same transaction when there is one.
    bool WithEvent(const WebhookEvent* event, const std::function<bool()>& change);

    sqlite3* m_db = nullptr;
    std::string m_strError;
    long long m_droppedEvents = 0;  // webhook events dropped since the last note of it
    std::chrono::steady_clock::time_point m_lastDropNote{};
};
