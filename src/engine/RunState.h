#pragma once
// The run-state flags shared by the user-interface thread and the worker thread.
// Each is written by one side and read by the other; a stale value costs one pass.
#include <atomic>

struct RunState {
    std::atomic<int> m_bStop{0};            // 1: the worker must leave its loop
    std::atomic<int> m_bRunning{1};         // 1 running, 0 paused
    std::atomic<int> m_bDeviceLinked{0};    // the GSM device link is up
    std::atomic<int> m_bDatabaseLinked{0};  // the database link is up
};
