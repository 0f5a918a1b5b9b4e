// The outbound cycle end to end (driver over a pty to the modem simulator, SQLite through
// ODBC, retry interval 0): rows per minute, and the growth of the peak resident memory
// while the first rows of an outbox of 1,000 or 100,000 pending rows are sent. The
// outbox is read in bounded batches, so the growth must not depend on its size.
#include "gateway/GatewayRig.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <string>

namespace {

constexpr int kRowsSent = 300;

long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

void BM_SendOutbox(benchmark::State& state) {
    const int outboxRows = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        GatewayRig rig;
        rig.Passes(1);  // links up
        sqlite3* db = nullptr;
        sqlite3_open((TestDataSources::Get().Folder() + "/test.db").c_str(), &db);
        sqlite3_exec(db,
                     ("with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                      std::to_string(outboxRows) + ") insert into smsout(phone, msgbody) select '+491', 'bulk ' || i from n")
                         .c_str(),
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
        rig.clock.onSleep = [&rig] {
            if (rig.settings.m_nSent >= kRowsSent) rig.run.m_bStop = 1;
        };
        std::ofstream("/proc/self/clear_refs") << "5";  // peak := current
        const long before = StatusKb("VmRSS");
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        rig.gateway->CountUnsent();
        rig.gateway->SendPending();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        state.counters["rows_per_minute"] = rig.settings.m_nSent * 60.0 / seconds;
        state.counters["peak_growth_kB"] = static_cast<double>(StatusKb("VmHWM") - before);
        state.counters["rows_sent"] = rig.settings.m_nSent;
        rig.clock.onSleep = nullptr;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SendOutbox)->Arg(1000)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
