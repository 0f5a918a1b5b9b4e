#pragma once
// "Pellwick.status": what a running gateway is doing, as `name=value` lines in its state
// folder, for `pellwick -status` in another process. The gateway rewrites it (atomically,
// mode 0600) from a thread of its own whenever a value changed, at most once a second, so
// the modem loop never waits on the file.
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

constexpr const char* STATUS_FILE_NAME = "Pellwick.status";

class CStatusFile {
public:
    static constexpr int PERIOD_MS = 1000;

    // Writes `snapshot()` to `path` now and then whenever it changes; the file goes when
    // the object does.
    CStatusFile(std::string path, std::function<std::string()> snapshot);
    ~CStatusFile();
    CStatusFile(const CStatusFile&) = delete;
    CStatusFile& operator=(const CStatusFile&) = delete;

private:
    void Run();

    std::string m_path;
    std::function<std::string()> m_snapshot;
    std::mutex m_mutex;
    std::condition_variable m_quit;
    bool m_bQuit = false;
    std::thread m_thread;
};

// Writes `data` to a new file beside `path` and renames it over `path`: a reader sees the
// old file or the new one, and a symbolic link at `path` is replaced, never followed.
bool ReplaceFileAtomically(const std::string& path, const std::string& data);

// `pellwick -status` on `folder`: the snapshot of the gateway that holds the folder, and 0;
// "state=stopped" and 3 when none does; 4 when it cannot be told (the reason to `err`).
int PrintGatewayStatus(const std::string& folder, std::FILE* out, std::FILE* err);
