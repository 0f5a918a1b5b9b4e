// CAdoDatabase against the real drivers: SQLite through libsqliteodbc, PostgreSQL through
// psqlODBC (also with standard_conforming_strings off) and MariaDB through its connector in
// its default SQL mode, on the servers that the test run starts.
#include "db/AdoDatabase.h"
#include "DataSources.h"
#include "engine/SqlTemplates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kSelect =
    "select msgid as <MSGID>, phone as <PHONE>, msgbody as <MSGBODY> from smsout where status=0";
const std::string kUpdate = "update smsout set status=<RESULT> where msgid=<MSGID>";
const std::string kInsert =
    "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')";

struct Backend {
    const char* name;
    const char* dsn;
    const char* schema[2];
    const char* millionRows;  // a query of 1,000,000 outbox-like rows
};

void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

const Backend kSqlite{"SQLite",
                      "PwSqlite",
                      {"create table smsout(msgid integer primary key, phone varchar(32), msgbody text, "
                       "status integer default 0)",
                       "create table smsin(id integer primary key autoincrement, phone varchar(32), "
                       "msgbody text, rectime datetime)"},
                      "with recursive n(x) as (select 1 union all select x + 1 from n where x < 1000000) "
                      "select x as zMsgID, '+4915100' || x as zPhone, 'Outbox message number ' || x || ', waiting to be sent by the gateway.' "
                      "as zMsgBody from n"};
const Backend kPostgres{"PostgreSQL",
                        "PwPg",
                        {"create table smsout(msgid integer primary key, phone varchar(32), msgbody text, "
                         "status integer default 0)",
                         "create table smsin(id serial primary key, phone varchar(32), msgbody text, "
                         "rectime timestamp)"},
                        "select x as zMsgID, '+4915100' || x as zPhone, 'Outbox message number ' || x || ', waiting to be "
                        "sent by the gateway.' as zMsgBody from generate_series(1, 1000000) as x"};

// Backslashes escape quotes in these two: texts bound as values must still arrive literally.
const Backend kPostgresLegacy{"PostgreSQLLegacyStrings", "PwPgLegacy", {kPostgres.schema[0], kPostgres.schema[1]},
                              kPostgres.millionRows};
const Backend kMariaDb{"MariaDB",
                       "PwMy",
                       {"create table smsout(msgid integer primary key, phone varchar(32), msgbody text, "
                        "status integer default 0)",
                        "create table smsin(id integer primary key auto_increment, phone varchar(32), "
                        "msgbody text, rectime datetime)"},
                       nullptr};

// Every value of one column of a query, in row order.
std::vector<std::string> ReadColumn(CAdoDatabase& db, const std::string& sql, const std::string& column) {
    std::vector<std::string> values;
    EXPECT_EQ(db.OpenQuery(sql), 1) << sql;
    while (!db.IsEof()) {
        values.push_back(db.GetFieldString(column));
        db.MoveNext();
    }
    return values;
}

int ReadInt(CAdoDatabase& db, const std::string& sql, const std::string& column) {
    EXPECT_EQ(db.OpenQuery(sql), 1) << sql;
    EXPECT_EQ(db.IsEof(), 0) << sql;
    return db.GetFieldInt(column);
}

class DatabaseTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        auto& sources = TestDataSources::Get();
        const std::string dsn = GetParam().dsn;
        // Under ctest the server fixtures must have started them; run by hand, there may be none.
        if (dsn.rfind("PwPg", 0) == 0) {
            if (sources.PostgresExpected()) {
                ASSERT_TRUE(sources.HasPostgres()) << "the PostgreSQL server is missing";
            }
            if (!sources.HasPostgres()) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
            m_db.m_strUser = sources.Pg("PW_PG_USER");
            m_db.m_strPassword = sources.Pg("PW_PG_PASSWORD");
        }
        if (dsn == "PwMy") {
            if (sources.MariaDbExpected()) {
                ASSERT_TRUE(sources.HasMariaDb()) << "the MariaDB server is missing";
            }
            if (!sources.HasMariaDb()) GTEST_SKIP() << "no MariaDB server: run the tests through ctest";
            m_db.m_strUser = sources.My("PW_MY_USER");
            m_db.m_strPassword = sources.My("PW_MY_PASSWORD");
        }
        m_db.CloseDatabase();
        m_db.SetDataSource(GetParam().dsn);
        ASSERT_EQ(m_db.ExecuteSql("drop table if exists smsout"), 1);
        ASSERT_EQ(m_db.ExecuteSql("drop table if exists smsin"), 1);
        for (const char* statement : GetParam().schema) ASSERT_EQ(m_db.ExecuteSql(statement), 1) << statement;
    }
    void TearDown() override { m_db.CloseDatabase(); }

    void AddOutbox(int msgid, const std::string& phone, const std::string& body, int status) {
        std::string sql = "insert into smsout(msgid, phone, msgbody, status) values(" + std::to_string(msgid) +
                          ", '" + QuoteSqlText(phone) + "', '" + QuoteSqlText(body) + "', " +
                          std::to_string(status) + ")";
        ASSERT_EQ(m_db.ExecuteSql(sql), 1) << sql;
    }

    CAdoDatabase m_db;
};

TEST_P(DatabaseTest, DefaultTemplatesSendAndReceive) {
    AddOutbox(1, "+491511", "first", 0);
    AddOutbox(2, "+491512", "second", 1);
    AddOutbox(3, "+491513", "third", 0);

    EXPECT_EQ(ReadInt(m_db, BuildCountSql(kSelect), COLUMN_COUNT), 2);

    // The outbound walk: read each pending row, write its result back.
    ASSERT_EQ(m_db.OpenQuery(BuildSelectSql(kSelect) + " order by msgid"), 1);
    std::vector<std::string> seen;
    while (!m_db.IsEof()) {
        std::string id = m_db.GetFieldString(COLUMN_MSGID);
        seen.push_back(id + "|" + m_db.GetFieldString(COLUMN_PHONE) + "|" + m_db.GetFieldString(COLUMN_MSGBODY));
        EXPECT_EQ(m_db.ExecuteSql(BuildUpdateSql(kUpdate, id, id == "1" ? 1 : -1)), 1);
        m_db.MoveNext();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1|+491511|first", "3|+491513|third"}));
    EXPECT_EQ(ReadColumn(m_db, "select status from smsout order by msgid", "status"),
              (std::vector<std::string>{"1", "1", "-1"}));
    EXPECT_EQ(ReadInt(m_db, BuildCountSql(kSelect), COLUMN_COUNT), 0);

    // The inbound insert with a modem time stamp.
    ASSERT_EQ(m_db.ExecuteSql(BuildInsertSql(kInsert, "+4917", "hello", FormatTimeValue("050312142530"))), 1);
    ASSERT_EQ(m_db.OpenQuery("select phone, msgbody, rectime from smsin"), 1);
    ASSERT_EQ(m_db.IsEof(), 0);
    EXPECT_EQ(m_db.GetFieldString("phone"), "+4917");
    EXPECT_EQ(m_db.GetFieldString("msgbody"), "hello");
    EXPECT_EQ(m_db.GetFieldString("rectime").substr(0, 19), "2005-03-12 14:25:30");
}

TEST_P(DatabaseTest, HostileTextsAreStoredExactlyAndChangeNothingElse) {
    AddOutbox(1, "+1", "keep me", 0);
    const std::vector<std::string> texts = {
        "x\\', now()), (4900, (select group_concat(x) from secret), now())#",
        "x\\', now()); update smsout set phone=4917066666, status=0; --",
        "\\'; delete from smsout; /* ",
        "x\\\\'); drop table smsout; -- ",
        "*/ '\\\\' \"\\\"\" ` # -- ;",
        "\\",
        "it's",
        "'",
        "''",
        "x'); drop table smsout; --",
        "a', 'b', '2000-01-01 00:00:00'); delete from smsout; insert into smsin(msgbody) values('c",
        "'; update smsout set status=1; select '",
        "see <TIME>, <PHONE> and <MSGBODY>",
        "back\\slash\\' and \\",
        "question? {fn now()} {d '2020-01-01'} $1 %s",
        "line one\nline two\r\n\ttab",
        "Grüße, € and 😀",
        "",
        std::string(9000, 'a') + "Grüße, € and 😀 at the end of a long joined message",
    };
    // Senders as hostile as the texts, the templates as the manual gives them.
    for (const std::string& text : texts) {
        const std::string phone = "+49\\'" + std::to_string(&text - texts.data()) + "'); --";
        EXPECT_EQ(m_db.ExecuteSql(BuildInsertSql(kInsert, phone, text, FormatTimeValue("201231235959"))), 1) << text;
    }
    EXPECT_EQ(ReadColumn(m_db, "select msgbody from smsin order by id", "msgbody"), texts);
    EXPECT_EQ(ReadColumn(m_db, "select phone from smsin order by id", "phone").back(),
              "+49\\'" + std::to_string(texts.size() - 1) + "'); --");
    EXPECT_EQ(ReadColumn(m_db, "select rectime from smsin order by id", "rectime").back().substr(0, 19),
              "2020-12-31 23:59:59");
    // A bare placeholder takes the value as it is too.
    ASSERT_EQ(m_db.ExecuteSql(BuildInsertSql("insert into smsin(phone, msgbody) values(<PHONE>, <MSGBODY>)",
                                             "+49 0 or 1=1", texts[1], "")),
              1);
    EXPECT_EQ(ReadColumn(m_db, "select phone from smsin order by id", "phone").back(), "+49 0 or 1=1");
    // The outbox is untouched.
    EXPECT_EQ(ReadColumn(m_db, "select phone, msgbody, status from smsout", "msgbody"),
              std::vector<std::string>{"keep me"});
    EXPECT_EQ(ReadColumn(m_db, "select phone, msgbody, status from smsout", "phone"), std::vector<std::string>{"+1"});
    EXPECT_EQ(ReadColumn(m_db, "select msgid, status from smsout", "status"), std::vector<std::string>{"0"});
}

// The report of an outbox row whose id is SQL changes that row and no other.
TEST_P(DatabaseTest, OutboxIdIsOnlyEverAValue) {
    ASSERT_EQ(m_db.ExecuteSql("create table ids(msgid varchar(40) primary key, status integer default 0)"), 1);
    for (const char* id : {"0 or 1=1", "1", "x\\' or 1=1 #"})
        ASSERT_EQ(m_db.ExecuteSql(BindTemplate("insert into ids(msgid) values('<ID>')", {{"<ID>", id}}, {})), 1);
    const std::string report = "update ids set status=<STATUS> where msgid='<MSGID>'";
    EXPECT_EQ(m_db.ExecuteChange(BuildReportSql(report, "0 or 1=1", "+1", "2020-01-01 00:00:00", 1)), 1);
    EXPECT_EQ(m_db.ExecuteChange(BuildReportSql(report, "x\\' or 1=1 #", "+1", "2020-01-01 00:00:00", -1)), 1);
    EXPECT_EQ(ReadColumn(m_db, "select status from ids order by msgid", "status"),
              (std::vector<std::string>{"1", "0", "-1"}));
    m_db.CloseQuery();
    ASSERT_EQ(m_db.ExecuteSql("drop table ids"), 1);
}

TEST_P(DatabaseTest, DuplicateKeyGives99AfterOneAttemptAndKeepsTheConnection) {
    AddOutbox(7, "+1", "once", 0);
    std::weak_ptr<CDbConnection> connection = CAdoDatabase::s_pConnection;
    EXPECT_EQ(m_db.ExecuteSql("insert into smsout(msgid, phone, msgbody, status) values(7, '+2', 'twice', 0)"),
              CAdoDatabase::DUPLICATE_KEY);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
    // Not reconnected: the first connection is still the one in use.
    EXPECT_FALSE(connection.expired());
    EXPECT_EQ(connection.lock(), CAdoDatabase::s_pConnection);
    EXPECT_EQ(ReadColumn(m_db, "select msgbody from smsout", "msgbody"), std::vector<std::string>{"once"});
}

TEST_P(DatabaseTest, NullColumnsReadAsEmptyAndZero) {
    ASSERT_EQ(m_db.ExecuteSql("insert into smsin(phone, msgbody, rectime) values(null, null, null)"), 1);
    ASSERT_EQ(m_db.OpenQuery("select phone, msgbody as absent, rectime, id from smsin"), 1);
    ASSERT_EQ(m_db.IsEof(), 0);
    EXPECT_EQ(m_db.GetFieldString("phone"), "");
    EXPECT_EQ(m_db.GetFieldInt("absent"), 0);
    EXPECT_EQ(m_db.GetFieldString("rectime"), "");
    EXPECT_EQ(m_db.GetFieldInt("id"), 1);
    // Wider and non-integer numbers.
    ASSERT_EQ(m_db.OpenQuery("select 2147483647 as big, 1.75 as real_value"), 1);
    EXPECT_EQ(m_db.GetFieldInt("big"), 2147483647);
    EXPECT_EQ(m_db.GetFieldInt("real_value"), 1);
}

TEST_P(DatabaseTest, ColumnsAreFoundWithoutRegardToCase) {
    AddOutbox(42, "+3", "body", 0);
    ASSERT_EQ(m_db.OpenQuery(BuildSelectSql(kSelect)), 1);
    // PostgreSQL folds the unquoted aliases to lower case.
    EXPECT_EQ(m_db.GetFieldInt("zMsgID"), 42);
    EXPECT_EQ(m_db.GetFieldString("ZMSGID"), "42");
    EXPECT_EQ(m_db.GetFieldString("zmsgbody"), "body");
    // Any column can be read again, in any order.
    EXPECT_EQ(m_db.GetFieldString("zPhone"), "+3");
    EXPECT_EQ(m_db.GetFieldInt("zMsgID"), 42);
}

TEST_P(DatabaseTest, ReadingErrorsAreThrown) {
    AddOutbox(1, "+1", "not a number", 0);
    ASSERT_EQ(m_db.OpenQuery("select msgid, msgbody from smsout"), 1);
    EXPECT_THROW(m_db.GetFieldString("nosuchcolumn"), CDbError);
    EXPECT_THROW(m_db.GetFieldInt("msgbody"), CDbError);
    EXPECT_EQ(m_db.MoveNext(), 1);
    EXPECT_EQ(m_db.IsEof(), 1);
    EXPECT_THROW(m_db.GetFieldString("msgid"), CDbError);
    EXPECT_THROW(m_db.MoveNext(), CDbError);
    // The connection is not blamed for a reading error.
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
}

TEST_P(DatabaseTest, EmptyResultAndStatementWithoutRows) {
    ASSERT_EQ(m_db.OpenQuery("select msgid from smsout"), 1);
    EXPECT_EQ(m_db.IsEof(), 1);
    ASSERT_EQ(m_db.OpenQuery("update smsout set status=1 where msgid=99"), 1);
    EXPECT_EQ(m_db.IsEof(), 1);
    // An update that matches no row is not a failure.
    EXPECT_EQ(m_db.ExecuteSql("delete from smsout where msgid=12345"), 1);
}

TEST_P(DatabaseTest, LongAndNonAsciiValuesReadWhole) {
    std::string text;
    for (int i = 0; i < 700; ++i) text += "äß€😀";
    text += "end";
    AddOutbox(1, "+1", text, 0);
    EXPECT_EQ(ReadColumn(m_db, "select msgbody from smsout", "msgbody"), std::vector<std::string>{text});
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Sets the peak resident size back to the current one, so the next peak is this test's own.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

TEST_P(DatabaseTest, RowsAreReadFromTheCursorNotLoadedWhole) {
    // A million rows of about 90 bytes would take well over 100 MB if loaded at once.
    if (!GetParam().millionRows) GTEST_SKIP() << "the MariaDB connector keeps a result whole";
    ResetPeak();
    const long residentBefore = StatusKb("VmRSS");
    ASSERT_GT(residentBefore, 0);
    ASSERT_EQ(m_db.OpenQuery(GetParam().millionRows), 1);
    long rows = 0;
    std::string last;
    while (!m_db.IsEof()) {
        last = m_db.GetFieldString(COLUMN_MSGBODY);
        m_db.MoveNext();
        ++rows;
    }
    EXPECT_EQ(rows, 1000000);
    EXPECT_EQ(last, "Outbox message number 1000000, waiting to be sent by the gateway.");
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the peak says nothing here";
#endif
    const long growth = StatusKb("VmHWM") - residentBefore;
    EXPECT_LT(growth, 32 * 1024) << "peak memory grew by " << growth << " kB";
}

TEST_P(DatabaseTest, FailedStatementTriesTwiceThenThrowsWithTheDriverText) {
    try {
        m_db.ExecuteSql("update nosuchtable set x=1");
        FAIL() << "no error";
    } catch (const CDbError& e) {
        EXPECT_EQ(e.Error(), DB_E_FAIL);
        EXPECT_EQ(e.SqlState().size(), 5u);
        EXPECT_NE(e.Description().find("[" + e.SqlState() + "]"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("nosuchtable"), std::string::npos) << e.Description();
        EXPECT_FALSE(e.IsDuplicateKey());
    }
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);
    // A failed query is absorbed; the next statement opens again by itself.
    EXPECT_EQ(m_db.OpenQuery("select * from nosuchtable"), 0);
    EXPECT_EQ(m_db.m_pRecordset, nullptr);
    EXPECT_EQ(m_db.ExecuteSql("delete from smsout"), 1);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
}

TEST_P(DatabaseTest, ReopenWhileConnectedStartsAFreshConnection) {
    ASSERT_EQ(m_db.OpenDatabase(), 1);
    ASSERT_EQ(m_db.OpenQuery("select msgid from smsout"), 1);
    std::weak_ptr<CDbConnection> first = CAdoDatabase::s_pConnection;
    EXPECT_EQ(m_db.OpenDatabase(), 1);
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
    EXPECT_EQ(m_db.m_hrLast, DB_S_OK);
    EXPECT_EQ(m_db.m_pRecordset, nullptr);
    EXPECT_EQ(m_db.ExecuteSql("delete from smsout"), 1);
}

TEST_P(DatabaseTest, CloseDropsTheRowsAndTheNextCallReconnects) {
    AddOutbox(1, "+1", "a", 0);
    ASSERT_EQ(m_db.OpenQuery("select msgid from smsout"), 1);
    EXPECT_EQ(m_db.CloseDatabase(), 1);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);
    EXPECT_EQ(CAdoDatabase::s_pConnection, nullptr);
    try {
        m_db.IsEof();
        FAIL() << "no error";
    } catch (const CDbError& e) {
        EXPECT_EQ(e.Error(), DB_E_POINTER);
    }
    EXPECT_EQ(m_db.CloseDatabase(), 1);
    EXPECT_EQ(ReadColumn(m_db, "select msgid from smsout", "msgid"), std::vector<std::string>{"1"});
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
}

TEST_P(DatabaseTest, CloseFromAnotherThreadWaitsForTheCallInProgress) {
    for (int i = 1; i <= 50; ++i) AddOutbox(i, "+1", "row", 0);
    std::atomic<bool> done{false};
    std::atomic<int> rowsRead{0};
    std::thread worker([&] {
        for (int pass = 0; pass < 40; ++pass) {
            try {
                if (m_db.OpenQuery(BuildSelectSql(kSelect)) != 1) continue;
                while (!m_db.IsEof()) {
                    if (m_db.GetFieldString(COLUMN_MSGBODY) == "row") ++rowsRead;
                    m_db.MoveNext();
                }
            } catch (const CDbError& e) {
                // Rows dropped by the close in between: no query open any more.
                EXPECT_EQ(e.Error(), DB_E_POINTER) << e.Description();
            }
        }
        done = true;
    });
    while (!done) {
        EXPECT_EQ(m_db.CloseDatabase(), 1);
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_GT(rowsRead.load(), 0);
}

// A connection of the HTTP interface gives way to the engine's: its statement waits while
// rows of the engine's query are open (on SQLite their read lock would stop it anyway, and
// the driver's busy wait then stalls whoever comes next), and runs once they are dropped.
TEST_P(DatabaseTest, APrivateStatementGivesWayToTheEnginesOpenRows) {
    AddOutbox(1, "+1", "first", 0);
    ASSERT_EQ(m_db.OpenQuery(BuildSelectSql(kSelect)), 1);
    CPrivateDbConnection other;
    other.SetLogin(GetParam().dsn, m_db.m_strUser, m_db.m_strPassword);
    auto insert = std::async(std::launch::async, [&] {
        // Also: a statement without a returning clause runs, the word in a text notwithstanding.
        return other.ExecuteOnce(SqlCommand("insert into smsout(msgid, phone, msgbody) values(2, '+2', 'returning')"));
    });
    EXPECT_EQ(insert.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    m_db.CloseQuery();
    ASSERT_EQ(insert.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_NO_THROW(insert.get());
    EXPECT_EQ(ReadColumn(m_db, "select msgid from smsout order by msgid", "msgid"),
              (std::vector<std::string>{"1", "2"}));
}

INSTANTIATE_TEST_SUITE_P(Drivers, DatabaseTest, ::testing::Values(kSqlite, kPostgres, kPostgresLegacy, kMariaDb));

// PostgreSQL only: the server going away under an open connection, and logins.
class PostgresTest : public DatabaseTest {};

TEST_P(PostgresTest, ServerRestartedBetweenAttemptsIsRecoveredByTheRetry) {
    AddOutbox(1, "+1", "a", 0);
    AddOutbox(2, "+2", "b", 0);
    int pidBefore = ReadInt(m_db, "select pg_backend_pid() as pid", "pid");

    ASSERT_TRUE(TestDataSources::Get().RestartPostgres());
    EXPECT_EQ(m_db.ExecuteSql(BuildUpdateSql(kUpdate, "1", 1)), 1);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
    EXPECT_NE(ReadInt(m_db, "select pg_backend_pid() as pid", "pid"), pidBefore);

    ASSERT_TRUE(TestDataSources::Get().RestartPostgres());
    EXPECT_EQ(ReadInt(m_db, BuildCountSql(kSelect), COLUMN_COUNT), 1);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 1);
}

TEST_P(PostgresTest, WrongPasswordFailsTheOpen) {
    m_db.m_strPassword = "wrong";
    EXPECT_THROW(m_db.OpenDatabase(), CDbError);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);
    EXPECT_LT(m_db.m_hrLast, 0);
    EXPECT_EQ(m_db.OpenQuery("select 1 as one"), 0);
    EXPECT_THROW(m_db.ExecuteSql("delete from smsout"), CDbError);
}

TEST_P(PostgresTest, ConnectionStringWithQuotedCredentials) {
    // The password holds a ';', which must not end the value.
    m_db.SetDataSource("Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=" +
                       TestDataSources::Get().Pg("PGPORT") + ";Database=pellwick;SSLmode=disable");
    EXPECT_EQ(m_db.OpenDatabase(), 1);
    EXPECT_EQ(ReadInt(m_db, "select 5 as five", "five"), 5);
}

INSTANTIATE_TEST_SUITE_P(Server, PostgresTest, ::testing::Values(kPostgres));

// Data sources that cannot be reached.
class UnreachableTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestDataSources::Get();
        m_db.CloseDatabase();
    }
    void TearDown() override { m_db.CloseDatabase(); }
    CAdoDatabase m_db;
};

TEST_F(UnreachableTest, ServerThatHangsUpIsTriedTwice) {
    CountingListener& listener = TestDataSources::Get().Refusing();
    m_db.SetDataSource("PwRefused");
    int before = listener.Accepted();
    EXPECT_THROW(m_db.OpenDatabase(), CDbError);
    const int perOpen = listener.Accepted() - before;
    ASSERT_GE(perOpen, 1);

    before = listener.Accepted();
    EXPECT_EQ(m_db.OpenQuery("select 1"), 0);
    EXPECT_EQ(listener.Accepted() - before, 2 * perOpen);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);

    before = listener.Accepted();
    EXPECT_THROW(m_db.ExecuteSql("delete from smsout"), CDbError);
    EXPECT_EQ(listener.Accepted() - before, 2 * perOpen);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);
    EXPECT_LT(m_db.m_hrLast, 0);
}

TEST_F(UnreachableTest, MissingDatabaseFolderAndUnknownSource) {
    for (const char* dsn : {"PwNoFolder", "PwNoSuchSource"}) {
        m_db.SetDataSource(dsn);
        EXPECT_EQ(m_db.OpenQuery("select 1"), 0) << dsn;
        try {
            m_db.ExecuteSql("delete from smsout");
            ADD_FAILURE() << dsn << ": no error";
        } catch (const CDbError& e) {
            EXPECT_FALSE(e.Description().empty()) << dsn;
            EXPECT_FALSE(e.IsDuplicateKey()) << dsn;
        }
        EXPECT_EQ(CAdoDatabase::s_bConnected, 0) << dsn;
        EXPECT_THROW(m_db.IsEof(), CDbError) << dsn;
    }
}

}  // namespace
