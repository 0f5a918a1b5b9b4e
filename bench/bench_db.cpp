// Reading the outbox through CAdoDatabase from SQLite (libsqliteodbc): rows per second,
// and the peak resident memory while reading; and the statements written per second. Rows are streamed from the cursor, so the
// growth of the peak over the resident size before the first query should not depend
// on the number of rows.
//
// The databases are built by a child process, so that building them does not count
// in this process's memory.
#include "db/AdoDatabase.h"
#include "engine/SqlTemplates.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kSizes[] = {10000, 100000};

// A field of /proc/self/status in kB: "VmRSS" now, "VmHWM" the peak since the last reset.
long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Sets the peak resident size back to the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

long MaxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string Dsn(int rows) { return "BenchOutbox" + std::to_string(rows); }

class BenchDataSources {
public:
    BenchDataSources() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pellwick-bench-XXXXXX").string();
        m_dir = ::mkdtemp(tmpl.data()) ? tmpl : std::string(".");
        std::ofstream(m_dir + "/odbcinst.ini")
            << "[SQLite3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
        std::ofstream ini(m_dir + "/odbc.ini");
        for (int rows : kSizes) {
            ini << "[" << Dsn(rows) << "]\nDriver=SQLite3\nDatabase=" << m_dir << "/outbox" << rows
                << ".db\nTimeout=10000\n" << "\n";
        }
        ini.close();
        ::setenv("ODBCSYSINI", m_dir.c_str(), 1);
        ::setenv("ODBCINI", (m_dir + "/odbc.ini").c_str(), 1);

        pid_t child = ::fork();
        if (child == 0) {
            for (int rows : kSizes) Fill(rows);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        m_ok = child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    ~BenchDataSources() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    bool Ok() const { return m_ok; }

private:
    static void Fill(int rows) {
        CAdoDatabase db;
        db.SetDataSource(Dsn(rows));
        db.ExecuteSql("create table smsout(msgid integer primary key, phone varchar(32), msgbody text, "
                      "status integer default 0)");
        db.ExecuteSql("insert into smsout(msgid, phone, msgbody, status) "
                      "with recursive n(x) as (select 1 union all select x + 1 from n where x < " +
                      std::to_string(rows) +
                      ") select x, '+4915100' || x, 'Outbox message number ' || x || ' waiting to be sent.', 0 "
                      "from n");
        db.CloseDatabase();
    }

    std::string m_dir;
    bool m_ok = false;
};

BenchDataSources& Sources() {
    static BenchDataSources sources;
    return sources;
}

void BM_ReadOutbox(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    if (!Sources().Ok()) {
        state.SkipWithError("the outbox databases could not be built");
        return;
    }
    CAdoDatabase db;
    db.SetDataSource(Dsn(rows));
    if (db.OpenDatabase() != 1) {
        state.SkipWithError("the database cannot be opened");
        return;
    }
    ResetPeak();
    const long residentBefore = StatusKb("VmRSS");
    long read = 0;
    for (auto _ : state) {
        if (db.OpenQuery("select msgid as zMsgID, phone as zPhone, msgbody as zMsgBody from smsout where status=0") !=
            1) {
            state.SkipWithError("the query failed");
            return;
        }
        long n = 0;
        while (!db.IsEof()) {
            benchmark::DoNotOptimize(db.GetFieldString("zMsgID"));
            benchmark::DoNotOptimize(db.GetFieldString("zPhone"));
            benchmark::DoNotOptimize(db.GetFieldString("zMsgBody"));
            db.MoveNext();
            ++n;
        }
        if (n != rows) {
            state.SkipWithError("wrong number of rows");
            return;
        }
        read += n;
    }
    db.CloseDatabase();
    state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(read), benchmark::Counter::kIsRate);
    state.counters["peak_growth_kB"] = static_cast<double>(StatusKb("VmHWM") - residentBefore);
    state.counters["maxrss_kB"] = static_cast<double>(MaxRssKb());
}

BENCHMARK(BM_ReadOutbox)->Arg(kSizes[0])->Arg(kSizes[1])->Unit(benchmark::kMillisecond);

// Writing results and received messages through the statement templates (synchronous
// writes off, so that the statements rather than the disk are measured): statements per second.
void BM_WriteStatements(benchmark::State& state) {
    const int rows = kSizes[0];
    if (!Sources().Ok()) {
        state.SkipWithError("the outbox databases could not be built");
        return;
    }
    CAdoDatabase db;
    db.SetDataSource(Dsn(rows));
    if (db.OpenDatabase() != 1 || db.ExecuteSql("pragma synchronous=off") != 1 ||
        db.ExecuteSql("create table if not exists smsin(phone text, msgbody text, rectime timestamp)") != 1) {
        state.SkipWithError("the database cannot be opened");
        return;
    }
    const std::string update = "update smsout set status=<RESULT> where msgid='<MSGID>'";
    const std::string insert = "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')";
    long done = 0;
    for (auto _ : state) {
        const std::string id = std::to_string(done % rows + 1);
        if (db.ExecuteSql(BuildUpdateSql(update, id, done % 2 ? 1 : -1)) != 1 ||
            db.ExecuteSql(BuildInsertSql(insert, "+4915100" + id, "Received message number " + id + ", it's here.",
                                         "2026-12-07 09:30:00")) != 1) {
            state.SkipWithError("a statement failed");
            return;
        }
        done += 1;
    }
    db.CloseDatabase();
    state.counters["statements_per_s"] = benchmark::Counter(static_cast<double>(2 * done), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_WriteStatements)->MinTime(2.0);

}  // namespace
