#include "config/MessageHook.h"
#include "shell/OdbcSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Captured {
    std::vector<std::string> messages;
    ErrorMessageHook previous;
    Captured() {
        previous = SetErrorMessageHook(
            [this](const std::string& text, const std::string& caption) { messages.push_back(caption + "|" + text); });
    }
    ~Captured() { SetErrorMessageHook(previous); }
};

// Runs one statement and returns the first column of every row, or "error: ...".
std::vector<std::string> Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {"error: open"};
    }
    char* error = nullptr;
    int rc = sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0] ? values[0] : "NULL");
            return 0;
        },
        &rows, &error);
    if (rc != SQLITE_OK) rows = {std::string("error: ") + (error ? error : "")};
    sqlite3_free(error);
    sqlite3_close(db);
    return rows;
}

}  // namespace

TEST(OdbcInstaller, MissingLibraryIsReportedAndFails) {
    Captured captured;
    COdbcInstaller installer("libpellwick-no-such-installer.so.9");
    EXPECT_FALSE(installer.AddDataSource("/tmp/x.db"));
    EXPECT_FALSE(installer.RemoveDataSource());
    ASSERT_EQ(captured.messages.size(), 2u);
    EXPECT_EQ(captured.messages[0],
              "ODBC Installer Error|The ODBC installer DLL (libpellwick-no-such-installer.so.9) is not installed on "
              "this system.");
}

TEST(DemoDatabase, CreatedWithTheReferenceTables) {
    TempDir dir;
    std::string path = dir.file("DADIvav.db");
    ASSERT_TRUE(CreateDemoDatabase(path));
    EXPECT_EQ(Query(path, "select name from sqlite_master where type='table' order by name"),
              (std::vector<std::string>{"smsin", "smsout"}));
    EXPECT_EQ(Query(path, "pragma journal_mode"), std::vector<std::string>{"wal"});
    // New outbox rows are pending (status 0) and numbered by the database.
    Query(path, "insert into smsout(phone, msgbody) values('+4912345', 'hello')");
    EXPECT_EQ(Query(path, "select msgid || ':' || status from smsout"), std::vector<std::string>{"1:0"});
    EXPECT_EQ(Query(path, "insert into smsout(phone, msgbody, status) values('1', 'x', NULL)")[0].substr(0, 6),
              "error:");
    // The inbox refuses the same message twice.
    EXPECT_TRUE(Query(path, "insert into smsin values('+49', 'hi', '2026-12-07 10:00:00')").empty());
    EXPECT_EQ(Query(path, "insert into smsin values('+49', 'hi', '2026-12-07 10:00:00')")[0].substr(0, 6), "error:");
    EXPECT_TRUE(Query(path, "insert into smsin values('+49', 'hi', '2026-12-07 10:00:01')").empty());
    // Nothing but the database is left in the folder.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(DemoDatabase, ExistingFileIsKept) {
    TempDir dir;
    std::string path = dir.file("DADIvav.db");
    {
        std::ofstream out(path);
        out << "not a database";
    }
    EXPECT_TRUE(CreateDemoDatabase(path));
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "not a database");
}

TEST(DemoDatabase, UnwritableFolderFails) {
    TempDir dir;
    EXPECT_FALSE(CreateDemoDatabase(dir.file("missing/DADIvav.db")));
}
