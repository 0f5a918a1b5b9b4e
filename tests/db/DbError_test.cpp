// The layer's behaviour that needs no database: error classification and the
// recordset operations before any query.
#include "db/AdoDatabase.h"
#include "db/DbError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DbError, DuplicateKeyRecognition) {
    struct Case {
        const char* description;
        std::vector<std::string> states;
        bool duplicate;
        int native = 0;
    };
    const Case cases[] = {
        {"[23505] ERROR: duplicate key value violates unique constraint \"smsout_pkey\"", {"23505"}, true},
        {"duplicate key", {}, true},
        {"[HY000] UNIQUE constraint failed: smsout.msgid (19)", {"HY000"}, true},
        {"[HY000] PRIMARY KEY must be unique (19)", {"HY000"}, true},
        {"[23000] Duplicate entry '1' for key 'PRIMARY'", {"23000"}, true, 1062},
        {"[23000] Column 'phone' cannot be null", {"23000"}, false, 1048},
        {"[23000] integrity constraint violation", {"23000"}, false},
        {"[01000] warning; [23503] foreign key", {"01000", "23503"}, false},
        {"[23514] new row violates check constraint; Failing row contains (UNIQUE constraint failed, duplicate key)",
         {"23514"}, false},
        {"[23502] null value in column \"phone\" violates not-null constraint", {"23502"}, false},
        {"Duplicate Key", {"42000"}, false},  // the words are matched as written
        {"unique constraint failed", {"HY000"}, false},
        {"[HY000] NOT NULL constraint failed: smsin.phone (19)", {"HY000"}, false},
        {"[57P01] terminating connection due to administrator command", {"57P01"}, false},
        {"[08S01] communication link failure", {"08S01"}, false},
        {"[42S02] no such table: smsout", {"42S02"}, false},
        {"", {"2"}, false},
        {"", {}, false},
    };
    for (const Case& c : cases) {
        CDbError e(DB_E_FAIL, c.description, c.states, c.native);
        EXPECT_EQ(e.IsDuplicateKey(), c.duplicate) << c.description;
    }
}

TEST(DbError, CarriesCodeDescriptionAndState) {
    CDbError e(DB_E_FAIL, "[42S02] no such table", {"42S02", "01000"}, 1);
    EXPECT_EQ(e.Error(), static_cast<std::int32_t>(0x80004005u));
    EXPECT_LT(e.Error(), 0);
    EXPECT_EQ(e.Description(), "[42S02] no such table");
    EXPECT_EQ(e.SqlState(), "42S02");
    EXPECT_EQ(e.NativeError(), 1);
    EXPECT_EQ(std::string(e.what()), "database error 0x80004005: [42S02] no such table");

    CDbError bare(-1, "");
    EXPECT_EQ(bare.SqlState(), "");
    EXPECT_EQ(std::string(bare.what()), "database error 0xffffffff");
}

TEST(AdoDatabase, RowsCannotBeReadBeforeAnyQuery) {
    CAdoDatabase db;
    EXPECT_EQ(db.m_hrLast, DB_S_OK);
    EXPECT_TRUE(db.m_strUser.empty());
    EXPECT_TRUE(db.m_strPassword.empty());
    auto expectPointerError = [](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const CDbError& e) {
            EXPECT_EQ(e.Error(), DB_E_POINTER);
        }
    };
    expectPointerError([&] { db.IsEof(); });
    expectPointerError([&] { db.MoveNext(); });
    expectPointerError([&] { db.GetFieldString("zPhone"); });
    expectPointerError([&] { db.GetFieldInt("count"); });
}

TEST(AdoDatabase, CloseWithoutConnectionAndDataSource) {
    CAdoDatabase db;
    EXPECT_EQ(db.CloseDatabase(), 1);
    EXPECT_EQ(CAdoDatabase::s_bConnected, 0);
    EXPECT_EQ(CAdoDatabase::s_pConnection, nullptr);
    db.SetDataSource("DADIvav");
    EXPECT_EQ(CAdoDatabase::s_strConnect, "DADIvav");
    // Shared by every object of the process.
    CAdoDatabase other;
    other.SetDataSource("Other");
    EXPECT_EQ(CAdoDatabase::s_strConnect, "Other");
}

}  // namespace
