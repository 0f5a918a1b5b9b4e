// The state store under a long database outage: 10,000 direct messages spooled one by one
// (each a committed, synced transaction), then flushed. The time per spool write should be
// the same for the last thousand as for the first: no write grows with what is stored.
#include "engine/InboxSpool.h"
#include "state/StateStore.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kMessages = 10000;
constexpr int kChunk = 1000;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_SpoolThroughAnOutage(benchmark::State& state) {
    for (auto _ : state) {
        std::string folder = (std::filesystem::temp_directory_path() / "pellwick-bench-XXXXXX").string();
        if (!::mkdtemp(folder.data())) state.SkipWithError("no temporary folder");
        CStateStore store;
        std::string error;
        if (!store.Open(folder + "/" + CStateStore::FILE_NAME, error)) state.SkipWithError(error.c_str());
        CInboxSpool spool;
        spool.Attach(&store);
        const std::string text(120, 'x');
        double first = 0, last = 0;
        for (int chunk = 0; chunk < kMessages / kChunk; ++chunk) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < kChunk; ++i) spool.Add({0, 1765099800 + i, "+4917012345", text, "261207093000"});
            const double seconds = SecondsSince(start);
            if (chunk == 0) first = seconds;
            last = seconds;
        }
        const auto flushStart = std::chrono::steady_clock::now();
        while (!spool.Empty()) spool.Remove(0);
        const double flush = SecondsSince(flushStart);
        state.counters["first_1000_us_per_write"] = first / kChunk * 1e6;
        state.counters["last_1000_us_per_write"] = last / kChunk * 1e6;
        state.counters["flushed_per_s"] = kMessages / flush;
        store.Close();
        std::filesystem::remove_all(folder);
    }
}
BENCHMARK(BM_SpoolThroughAnOutage)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
