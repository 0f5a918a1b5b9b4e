#pragma once
// A gateway wired to fakes, with the statuses it shows recorded in order.
#include "EngineFakes.h"
#include "engine/Gateway.h"
#include "engine/Worker.h"

#include <string>
#include <vector>

struct EngineHarness {
    struct Shown {
        int code;
        int icon;
    };
    CSettings settings;
    RunState run;
    FakeClock clock;
    FakeModem modem;
    FakeDatabase db;
    CStatusBoard status{run, clock};
    int saves = 0;
    std::vector<Shown> shown;
    CGateway gateway{settings, run, status, clock, modem, db, [this] { return ++saves, 1; }};
    CWorker worker{gateway, settings, run, status, clock};

    EngineHarness() {
        settings.SetDefaults();
        status.SetDisplayTimes(0, 0);  // every code published is seen
        status.SetDisplay([this](int code, int icon, const std::string&) { shown.push_back({code, icon}); });
    }
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (const auto& s : shown) codes.push_back(s.code);
        return codes;
    }
    void LinksUp() {
        run.m_bDatabaseLinked = 1;
        run.m_bDeviceLinked = 1;
    }
    void AddOutboxRow(const std::string& id, const std::string& phone, const std::string& body) {
        db.outbox.push_back({{"zMsgID", id}, {"zPhone", phone}, {"zMsgBody", body}});
    }
};

#include "support/TempDir.h"

#include <gtest/gtest.h>

// A state store in a folder of its own; Journal() reads it back as a restarted gateway would.
struct TempDirState {
    TempDir dir;
    std::string path = dir.file(CStateStore::FILE_NAME);
    CStateStore store;
    TempDirState() {
        std::string error;
        if (!store.Open(path, error)) ADD_FAILURE() << error;
    }
    std::vector<JournalEntry> Journal() const {
        CStateStore reread;
        std::string error;
        if (!reread.Open(path, error)) ADD_FAILURE() << error;
        return reread.LoadJournal();
    }
    bool Journalled(const std::string& msgId) const {
        for (const JournalEntry& e : Journal())
            if (e.msgId == msgId) return true;
        return false;
    }
};
