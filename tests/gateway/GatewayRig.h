#pragma once
// The engine on the real layers: the driver over a pty to the modem simulator and the
// database layer over SQLite through ODBC. The engine itself runs on a fake clock, so
// its pacing costs no time; the driver keeps the real one for the serial exchanges.
#include "../engine/EngineFakes.h"
#include "DataSources.h"
#include "db/AdoDatabase.h"
#include "engine/Adapters.h"
#include "engine/Gateway.h"
#include "engine/Worker.h"
#include "link/ComPort.h"
#include "link/Connection.h"
#include "link/IrComm.h"
#include "link/LogFile.h"
#include "modem/Mobile.h"
#include "pdu/SmsPdu.h"
#include "support/ModemSim.h"
#include "support/StateRows.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

// An exclusive lock on an SQLite file, as another program would hold it: every write of
// the gateway to it waits its busy time, then fails. Released when destroyed.
class SqliteLock {
public:
    explicit SqliteLock(const std::string& path) {
        sqlite3_open(path.c_str(), &m_db);
        sqlite3_exec(m_db, "begin exclusive", nullptr, nullptr, nullptr);
    }
    ~SqliteLock() { sqlite3_close(m_db); }  // rolls the open transaction back
    SqliteLock(const SqliteLock&) = delete;
    SqliteLock& operator=(const SqliteLock&) = delete;

private:
    sqlite3* m_db = nullptr;
};

// The test data source's SQLite file (PwSqlite).
inline std::string TestDatabaseFile() { return TestDataSources::Get().Folder() + "/test.db"; }

struct GatewayRig {
    TempDir dir;
    ModemSim sim;
    CSettings settings;
    RunState run;
    FakeClock clock;
    CStatusBoard status{run, clock};
    std::unique_ptr<CMobile> mobile;
    std::unique_ptr<CMobilePort> modemPort;
    CAdoDatabase db;
    CDatabasePort dbPort{db};
    CStateStore state;
    std::unique_ptr<CGateway> gateway;
    std::unique_ptr<CWorker> worker;
    std::vector<int> codes;

    explicit GatewayRig(const std::string& profile = "generic") : sim(dir.path(), profile) {
        TestDataSources::Get();  // ODBC configuration of this process
        theLog.SetFileName(dir.file("Pellwick.log"));
        theLog.SetEnabled(1);
        settings.SetDefaults();
        settings.m_strDsn = "PwSqlite";
        settings.m_nBaudRate = 4;
        settings.m_bSendingPeriod = 0;
        settings.m_nRetryInterval = 0;
        mobile = std::make_unique<CMobile>(std::make_unique<CConnection>(
            std::make_unique<CComPort>(SystemClock(), dir.path()), std::make_unique<CIrComm>()));
        mobile->SetRetryInterval(0);
        modemPort = std::make_unique<CMobilePort>(*mobile);
        gateway = std::make_unique<CGateway>(settings, run, status, clock, *modemPort, dbPort, [] { return 1; });
        Restart();
        worker = std::make_unique<CWorker>(*gateway, settings, run, status, clock);
        status.SetDisplay([this](int code, int, const std::string&) { codes.push_back(code); });
        status.SetDisplayTimes(0, 0);  // the text on display is the last code published
        ResetTables();
    }
    ~GatewayRig() {
        mobile->Disconnect();
        db.CloseDatabase();
        if (::testing::Test::HasFailure()) std::system(("cp '" + dir.file("Pellwick.log") + "' /tmp/gw-fail.log").c_str());
        theLog.SetEnabled(0);
    }

    // The engine's records as a restarted gateway finds them: the store opened anew.
    void Restart() {
        std::string error;
        state.Close();
        if (!state.Open(StatePath(), error)) ADD_FAILURE() << error;
        gateway->SetStateStore(&state);
    }
    std::string StatePath() const { return dir.file(CStateStore::FILE_NAME); }
    // Settings for the gateway binary run in the rig's folder: its database, no sending
    // window, no pauses, the outbox read every pass.
    bool SaveSettingsForTheBinary() const {
        CSettings binary;
        binary.SetDefaults();
        binary.m_strDsn = "PwSqlite";
        binary.m_bSendingPeriod = 0;
        binary.m_nRetryInterval = 0;
        binary.m_nQueryInterval = 1;
        return SaveSettingsFile(binary, dir.file("Pellwick.ini")) == 1;
    }

    void ResetTables() {
        db.SetDataSource("PwSqlite");
        db.OpenDatabase();
        db.ExecuteSql("drop table if exists smsout");
        db.ExecuteSql("drop table if exists smsin");
        db.ExecuteSql("create table smsout(msgid INTEGER PRIMARY KEY, phone TEXT, msgbody TEXT, "
                      "status INTEGER NOT NULL DEFAULT 0)");
        db.ExecuteSql("create table smsin(phone TEXT, msgbody TEXT, rectime TIMESTAMP, "
                      "UNIQUE(phone, rectime, msgbody))");
        db.CloseDatabase();
    }
    // A statement on the rig's data source over a connection of its own, before the
    // gateway's first pass.
    void Admin(const std::string& sql) {
        CAdoDatabase admin;
        admin.SetDataSource(settings.m_strDsn);
        admin.m_strUser = settings.m_strDbUser;
        admin.m_strPassword = settings.m_strDbPassword;
        admin.ExecuteSql(sql);
        admin.CloseDatabase();
    }
    // Points the rig at the PostgreSQL server of the test run, with an empty inbox and an
    // outbox of these extra columns; false when there is no server.
    bool UsePostgres(const std::string& outboxColumns = "") {
        TestDataSources& sources = TestDataSources::Get();
        if (!sources.HasPostgres()) return false;
        settings.m_strDsn = "PwPg";
        settings.m_strDbUser = sources.Pg("PW_PG_USER");
        settings.m_strDbPassword = sources.Pg("PW_PG_PASSWORD");
        Admin("drop table if exists smsin");
        Admin("drop table if exists smsout");
        Admin("create table smsout(msgid serial primary key, phone text, msgbody text, status int default 0" +
              outboxColumns + ")");
        Admin("create table smsin(phone text, msgbody text, rectime timestamp, unique(phone, rectime, msgbody))");
        return true;
    }
    void Sql(const std::string& sql) {
        CAdoDatabase other;
        other.ExecuteSql(sql);
    }
    // Rows of a query as "a|b|c" strings, read through a second handle on the shared connection.
    std::vector<std::string> Rows(const std::string& sql, const std::vector<std::string>& columns) {
        CAdoDatabase reader;
        reader.m_strUser = settings.m_strDbUser;  // should it have to reconnect
        reader.m_strPassword = settings.m_strDbPassword;
        std::vector<std::string> rows;
        if (!reader.OpenQuery(sql)) return rows;
        while (!reader.IsEof()) {
            std::string row;
            for (size_t i = 0; i < columns.size(); ++i) row += (i ? "|" : "") + reader.GetFieldString(columns[i]);
            rows.push_back(row);
            reader.MoveNext();
        }
        return rows;
    }
    // Worker passes with a real 100 ms between them, so that what the simulator sends
    // (indications, direct deliveries) has arrived before the next poll.
    void Passes(int n) {
        for (int i = 0; i < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            worker->Pass();
        }
    }
    // The texts of every PDU the simulator took from the gateway, decoded.
    std::vector<CSmsPdu> Submitted() { return Decoded(sim); }
    static std::vector<CSmsPdu> Decoded(ModemSim& sim) {
        std::vector<CSmsPdu> out;
        for (const std::string& line : sim.Submitted()) {
            size_t at = line.find("\"pdu\":\"");
            if (at == std::string::npos) continue;
            CSmsPdu pdu;
            pdu.m_strPduIn = line.substr(at + 7, line.find('"', at + 7) - at - 7);
            pdu.m_nStorageStatus = 2;
            pdu.Decode();
            out.push_back(pdu);
        }
        return out;
    }
};
