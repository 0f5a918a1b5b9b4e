#include "state/StateFolder.h"
#include "state/StateStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

// The files of the previous version: every line that parses becomes a record as it would
// have been read at a restart, every other one a rejected record; the import happens once,
// also when a crash came between its commit and the renames.
TEST(StateStore, FilesOfThePreviousVersionAreImportedOnceWithDamagedLinesKept) {
    TempDir dir;
    Write(dir.file("Pellwick.journal"),
          "claimed 4\nsending a\\x0Ab\nresult -1 6\n2 7\nsendin\nresult x 8\n");
    Write(dir.file("Pellwick.spool"), "1765099801 2B3439 3236 6869\n1765099802 2B3439\n");
    Write(dir.file("Pellwick.parts"), "17 3 2 1765099800000 3236 2B3439 4142\n17 3 9 1 - - -\n");
    Write(dir.file("Pellwick.references"), "5 1765099800000 37 2B3439\n300 1 37 2B3439\n");
    Write(dir.file("Pellwick.rejected"), "2026-12-07 09:30:00 SM 3 0011FF\n");
    CStateStore store;
    std::string error;
    std::vector<std::string> damaged;
    ASSERT_TRUE(store.Open(dir.file(CStateStore::FILE_NAME), error)) << error;
    ASSERT_TRUE(store.ImportOldFiles(dir.path(), damaged, error)) << error;

    const auto journal = store.LoadJournal();
    ASSERT_EQ(4u, journal.size());
    EXPECT_EQ(JournalState::Claimed, journal[0].state);
    EXPECT_EQ("a\nb", journal[1].msgId);
    EXPECT_EQ(JournalState::Sending, journal[1].state);
    EXPECT_EQ(-1, journal[2].result);
    EXPECT_EQ("7", journal[3].msgId);
    EXPECT_EQ(2, journal[3].result);
    ASSERT_EQ(1u, store.LoadSpool().size());
    EXPECT_EQ("hi", store.LoadSpool()[0].text);
    ASSERT_EQ(1u, store.LoadParts().size());
    EXPECT_EQ("AB", store.LoadParts()[0].text);
    ASSERT_EQ(1u, store.LoadSubmissions().size());
    EXPECT_EQ("7", store.LoadSubmissions()[0].msgId);
    EXPECT_EQ(5u, damaged.size());
    const auto rejected = store.LoadRejected();
    ASSERT_EQ(6u, rejected.size());
    EXPECT_EQ("damaged: Pellwick.journal line 5 does not parse", rejected[0].reason);
    EXPECT_EQ("sendin", rejected[0].pdu);
    EXPECT_EQ("SM|3|0011FF", rejected[5].store + "|" + std::to_string(rejected[5].index) + "|" + rejected[5].pdu);

    // A crash before the renames: the files are there again, the store has them already.
    std::filesystem::rename(dir.file("Pellwick.spool.imported"), dir.file("Pellwick.spool"));
    ASSERT_TRUE(store.ImportOldFiles(dir.path(), damaged, error)) << error;
    EXPECT_EQ(1u, store.LoadSpool().size());
    EXPECT_FALSE(std::filesystem::exists(dir.file("Pellwick.spool")));
}

// Rejected PDUs are kept, the newest 10,000 of them; any byte of a text survives.
TEST(StateStore, RejectTableKeepsTheNewestAndTextsKeepEveryByte) {
    CStateStore store;
    std::string error;
    ASSERT_TRUE(store.Open("", error)) << error;
    for (int i = 0; i < IStateStore::MAX_REJECTED + 5; ++i)
        ASSERT_TRUE(store.AddRejected({"2026-12-07 09:30:00", "SM", i, "00", "does not decode"}));
    const auto rejected = store.LoadRejected();
    ASSERT_EQ(static_cast<size_t>(IStateStore::MAX_REJECTED), rejected.size());
    EXPECT_EQ(5, rejected.front().index);

    SpooledMessage binary{0, 1, "+49", std::string("a\0\xFF'\"\\", 6), "261207093000"};
    ASSERT_TRUE(store.AddSpooled(binary));
    EXPECT_EQ(binary.text, store.LoadSpool().at(0).text);
}

// Only the gateway's own store is opened, and never through a link.
TEST(StateStore, ForeignDamagedOrLinkedFilesAreRefused) {
    TempDir dir;
    const std::string path = dir.file(CStateStore::FILE_NAME);
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dir.file("other.db").c_str(), &other));
    sqlite3_exec(other, "create table t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const struct {
        const char* name;
        std::function<void()> plant;
        const char* says;
    } cases[] = {
        {"another program's", [&] { std::filesystem::copy_file(dir.file("other.db"), path); }, "another program"},
        {"garbage", [&] { Write(path, std::string(8192, 'x')); }, "is damaged"},
        {"link", [&] { std::filesystem::create_symlink(dir.file("other.db"), path); }, "symbolic link"},
        {"linked log", [&] { std::filesystem::create_symlink(dir.file("other.db"), path + "-wal"); }, "symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.plant();
        CStateStore store;
        std::string error;
        EXPECT_FALSE(store.Open(path, error));
        EXPECT_NE(std::string::npos, error.find(c.says)) << error;
        std::filesystem::remove(path);
        std::filesystem::remove(path + "-wal");
    }
}

// One lock per folder: a second taker learns who holds it.
TEST(StateFolder, LockIsExclusiveAndNamesItsHolder) {
    TempDir dir;
    CFolderLock first, second;
    std::string error;
    long holder = 0;
    ASSERT_TRUE(first.Take(dir.path(), error, holder)) << error;
    // flock locks belong to the open file: a second open in this process is refused too.
    EXPECT_FALSE(second.Take(dir.path(), error, holder));
    EXPECT_EQ(static_cast<long>(::getpid()), holder);
    EXPECT_NE(std::string::npos, error.find("another gateway (PID")) << error;
    EXPECT_EQ("", FolderUnsafeReason(dir.path()));
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_write, std::filesystem::perm_options::add);
    EXPECT_NE(std::string::npos, FolderUnsafeReason(dir.path()).find("writable by other users"));
}

namespace {

// A statement on the store's file over a connection of its own, as another program would run it.
void Admin(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

}  // namespace

// A webhook event is kept exactly when the change it reports is: neither goes without the
// other. It survives a reopen with its attempts, and an event_id is queued once.
TEST(StateStore, WebhookEventsAreKeptExactlyWithTheirChange) {
    TempDir dir;
    const std::string path = dir.file(CStateStore::FILE_NAME);
    CStateStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
    SpooledMessage message{0, 1, "+49", "hi", "261207093000"};
    ASSERT_TRUE(store.AddSpooled(message));
    const WebhookEvent event{0, "e1", "{\"event\":\"sms:received\"}", 0, 0, 1000};

    Admin(path, "create trigger refuse before delete on waiting_messages begin select raise(abort, 'no'); end");
    EXPECT_FALSE(store.DropSpooled(message.id, &event));
    EXPECT_EQ(0, store.CountEvents());
    Admin(path, "drop trigger refuse; create trigger refuse before insert on webhook_events "
                "begin select raise(abort, 'no'); end");
    EXPECT_FALSE(store.DropSpooled(message.id, &event));
    EXPECT_EQ(1u, store.LoadSpool().size());
    Admin(path, "drop trigger refuse");
    ASSERT_TRUE(store.DropSpooled(message.id, &event));
    EXPECT_TRUE(store.LoadSpool().empty());
    ASSERT_TRUE(store.QueueEvent(event));
    EXPECT_EQ(1, store.CountEvents());

    CStateStore reopened;
    ASSERT_TRUE(reopened.Open(path, error)) << error;
    WebhookEvent next;
    ASSERT_TRUE(reopened.NextEvent(next));
    EXPECT_EQ("e1|{\"event\":\"sms:received\"}|0|1000", next.eventId + "|" + next.body + "|" +
                                                             std::to_string(next.attempts) + "|" +
                                                             std::to_string(next.createdMs));
    ASSERT_TRUE(reopened.PostponeEvent(next.id, 3, 12345));
    ASSERT_TRUE(store.NextEvent(next));
    EXPECT_EQ(3, next.attempts);
    EXPECT_EQ(12345, next.nextTryMs);
    ASSERT_TRUE(store.DropEvent(next.id));
    EXPECT_FALSE(reopened.NextEvent(next));
}

// The queue keeps the newest events; the oldest go first.
TEST(StateStore, WebhookQueueIsBounded) {
    CStateStore store;
    std::string error;
    ASSERT_TRUE(store.Open("", error)) << error;
    for (int i = 0; i < IStateStore::MAX_EVENTS + 3; ++i)
        ASSERT_TRUE(store.QueueEvent({0, std::to_string(i), "{}", 0, 0, i}));
    EXPECT_EQ(IStateStore::MAX_EVENTS, store.CountEvents());
    WebhookEvent oldest;
    ASSERT_TRUE(store.NextEvent(oldest));
    EXPECT_EQ("3", oldest.eventId);
}

// A store of the previous version keeps its journal and gains the entries' number and reason.
TEST(StateStore, JournalOfThePreviousVersionIsKept) {
    TempDir dir;
    const std::string path = dir.file(CStateStore::FILE_NAME);
    Admin(path, "pragma application_id=1349997428; pragma user_version=1; create table outbound_journal("
                "seq integer primary key, msgid text not null unique, state text not null, result integer not null "
                "default 0); insert into outbound_journal(msgid, state, result) values('7', 'result', 1)");
    CStateStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
    ASSERT_EQ(1u, store.LoadJournal().size());
    EXPECT_EQ(1, store.LoadJournal()[0].result);
    ASSERT_TRUE(store.PutJournal({"7", JournalState::Result, -1, "+491", "refused by the modem"}));
    CStateStore reopened;
    ASSERT_TRUE(reopened.Open(path, error)) << error;
    EXPECT_EQ("+491|refused by the modem", reopened.LoadJournal()[0].phone + "|" + reopened.LoadJournal()[0].reason);
}
