#pragma once
// Scripted stand-ins for the clock, the modem driver and the database, for engine tests.
#include "db/DbError.h"
#include "engine/Clock.h"
#include "engine/Ports.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

class FakeClock : public IGatewayClock {
public:
    int hour = 12;
    long long now = 0;
    std::uint64_t slept = 0;
    std::function<void()> onSleep;  // lets a test act "while" the engine waits
    int LocalHour() override { return hour; }
    long long NowMs() override { return now; }
    long long WallMs() override { return 1765099800000LL + now; }
    void SleepMs(int ms) override {
        now += ms;
        slept += static_cast<std::uint64_t>(ms);
        if (onSleep) onSleep();
    }
    // Nothing ever arrives: the wait runs its whole time.
    WaitResult WaitForEvent(int, int, int timeoutMs) override {
        SleepMs(timeoutMs);
        return WaitResult::Timeout;
    }
};

class FakeModem : public IModem {
public:
    struct Sent {
        std::string phone, text;
        int kind;
    };
    // Behaviour.
    int connectResult = 1;
    int disconnectResult = 1;
    bool answersAt = true;
    int sendResult = 5;  // the modem's reference; negative = failure
    std::string manufacturer = "MODEMSIM", model = "MS-100", imei = "351234567890123";
    int battery = 85, signal = 17;
    std::deque<int> polls;  // results of PollEvents, then 0
    ModemMessage received;
    std::map<std::string, std::map<int, ModemMessage>> stores;  // store -> index -> message
    std::map<std::string, int> capacity{{"SM", 20}, {"ME", 20}, {"MT", 20}};
    std::vector<std::string> refusedStores;
    std::string selected = "SM";
    int retryInterval = 3;
    // What happened.
    std::vector<std::string> calls;
    std::vector<Sent> sent;
    std::vector<int> readIndexes;
    std::vector<int> deleted;
    DeviceLinkSettings prepared;
    std::function<bool()> beforePdu;
    bool reset = false;  // the next TakeReset answer
    int acks = 0;        // AcknowledgeDirect calls
    bool held = false;   // HoldDirectDelivery as last asked
    ModemReport report;
    ModemMessage lastRead;

    void Prepare(const DeviceLinkSettings& link) override { prepared = link; }
    int Connect() override { calls.push_back("Connect"); return connectResult; }
    int Disconnect() override { calls.push_back("Disconnect"); return disconnectResult; }
    int SetServiceCentre(const std::string& n) override { calls.push_back("SetServiceCentre " + n); return 1; }
    std::string SendCommand(const std::string& c, const std::string&, int) override {
        calls.push_back(c);
        if (c == "AT\r") return answersAt ? "OK\r\n" : "";
        return "OK";
    }
    std::string GetManufacturer() override { return manufacturer; }
    std::string GetModel() override { return model; }
    std::string GetImei() override { return imei; }
    int GetSignalQuality() override { return signal; }
    int GetBatteryLevel() override { return battery; }
    int SendMessage(const std::string& p, const std::string& t, int k) override {
        if (p.empty()) {
            sent.push_back({p, t, k});
            return -1;
        }
        // The modem is ready for the PDU, unless it restarts before it.
        if (sendResult != SEND_NOT_HANDED && beforePdu && !beforePdu()) return SEND_NOT_HANDED;
        sent.push_back({p, t, k});
        return sendResult;
    }
    void SetBeforePdu(std::function<bool()> hook) override { beforePdu = std::move(hook); }
    bool TakeReset() override { return std::exchange(reset, false); }
    int encodings = 0;  // CountSegments calls
    int CountSegments(const std::string&, const std::string& t, int) override {
        ++encodings;
        return t.size() > 160 ? -1 : 1;
    }
    int PollEvents() override {
        if (polls.empty()) return 0;
        int r = polls.front();
        polls.pop_front();
        return r;
    }
    ModemMessage Received() const override { return received; }
    int AcknowledgeDirect() override { return ++acks, 1; }
    int HoldDirectDelivery(bool hold) override { return held = hold, 1; }
    ModemReport Report() const override { return report; }
    int SetStorage(const std::string& s) override {
        calls.push_back("SetStorage " + s);
        for (const auto& r : refusedStores)
            if (r == s) return -1;
        selected = s;
        return 1;
    }
    int GetUsedCount() override { return static_cast<int>(stores[selected].size()); }
    int GetTotalCount() override { return capacity[selected]; }
    // Reports the three stores as read, write and receive store.
    std::vector<StoreUse> GetStoreUse() override {
        calls.push_back("GetStoreUse");
        std::vector<StoreUse> use;
        for (const char* s : {"SM", "ME", "MT"}) use.push_back({s, static_cast<int>(stores[s].size()), capacity[s]});
        return use;
    }
    int ReadStoredMessage(int index) override {
        readIndexes.push_back(index);
        auto& store = stores[selected];
        auto it = store.find(index);
        if (it == store.end()) return 0;
        lastRead = it->second;
        return 1;
    }
    ModemMessage LastRead() const override { return lastRead; }
    int DeleteMessage(int index) override { return DeleteStored(selected, index); }
    int DeleteStored(const std::string& store, int index) override {
        deleted.push_back(index);
        stores[store.empty() ? selected : store].erase(index);
        return 1;
    }
    void SetRetry(int interval, int) override { retryInterval = interval; }
    int RetryInterval() const override { return retryInterval; }
};

// A database that answers queries from scripted rows and records every statement.
class FakeDatabase : public IDatabase {
public:
    using Row = std::map<std::string, std::string>;
    bool reachable = true;
    int openResult = 1;
    std::vector<Row> outbox;                 // rows the select statement returns
    std::function<int(const std::string&)> execute;  // optional: decides ExecuteSql
    std::function<long(const std::string&)> change;  // optional: decides ExecuteChange
    int failExecutes = 0;                    // the next n ExecuteSql calls throw
    std::vector<std::string> executed;
    std::vector<std::string> queries;
    std::string dsn, user, password;
    int opens = 0, closes = 0, closedQueries = 0;

    void SetDataSource(const std::string& d) override { dsn = d; }
    void SetCredentials(const std::string& u, const std::string& p) override { user = u; password = p; }
    int OpenDatabase() override {
        ++opens;
        return reachable ? openResult : 0;
    }
    int CloseDatabase() override {
        ++closes;
        return 1;
    }
    int ExecuteSql(const SqlCommand& command) override {
        const std::string sql = command.Inline();
        if (!reachable || failExecutes > 0) {
            if (failExecutes > 0) --failExecutes;
            throw CDbError(-1, "connection lost");
        }
        executed.push_back(sql);
        if (execute) return execute(sql);
        // The default update template takes the row out of the outbox.
        static const std::regex update("update smsout set status=-?[0-9]+ where msgid='?([^']*)'?");
        std::smatch m;
        if (std::regex_match(sql, m, update))
            std::erase_if(outbox, [&](const Row& r) { return r.at("zMsgID") == m[1].str(); });
        return 1;
    }
    // `change` decides the rows changed; without it ExecuteSql's answers are taken as the
    // real layer gives them: 99 a duplicate key, 0 no connection.
    long ExecuteChange(const SqlCommand& command) override {
        const std::string sql = command.Inline();
        if (change) {
            if (!reachable) throw CDbError(-1, "connection lost");
            executed.push_back(sql);
            return change(sql);
        }
        const int answer = ExecuteSql(command);
        if (answer == 99) throw CDbError(-1, "duplicate", {"23505"});
        return answer == 0 ? -1 : answer;
    }
    // Records the statement; its answer is `returned`.
    std::optional<std::string> returned;
    std::optional<std::string> ExecuteOnce(const SqlCommand& command) override {
        if (!reachable) throw CDbError(-1, "connection lost");
        executed.push_back(command.Inline());
        return returned;
    }
    int OpenQuery(const std::string& sql) override {
        if (!reachable) throw CDbError(-1, "connection lost");
        queries.push_back(sql);
        m_rows.clear();
        if (sql.rfind("select count(*)", 0) == 0) {
            m_rows.push_back({{"count", std::to_string(outbox.size())}});
        } else {
            m_rows = outbox;
        }
        m_pos = 0;
        return 1;
    }
    void CloseQuery() override {
        ++closedQueries;
        m_rows.clear();
        m_pos = 0;
    }
    int IsEof() override { return m_pos >= m_rows.size(); }
    int MoveNext() override {
        ++m_pos;
        return 1;
    }
    std::string GetFieldString(const std::string& c) override {
        if (!reachable) throw CDbError(-1, "connection lost");
        return m_rows.at(m_pos).count(c) ? m_rows.at(m_pos).at(c) : "";
    }
    int GetFieldInt(const std::string& c) override { return std::atoi(GetFieldString(c).c_str()); }

private:
    std::vector<Row> m_rows;
    size_t m_pos = 0;
};
