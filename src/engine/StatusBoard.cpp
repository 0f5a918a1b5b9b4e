#include "engine/StatusBoard.h"

namespace {

struct StatusEntry {
    const char* text;
    int icon;
};

const StatusEntry kStatus[] = {
    {"", ICON_NORMAL},
    {"Idle.", ICON_NORMAL},
    {"Paused.", ICON_PAUSED},
    {"Connect to database.", ICON_NORMAL},
    {"Query database.", ICON_NORMAL},
    {"Unable to connect to database.", ICON_ERROR},
    {"Disconnect database.", ICON_NORMAL},
    {"Unable to disconnect database.", ICON_ERROR},
    {"Database error.", ICON_ERROR},
    {"Connect to GSM device.", ICON_NORMAL},
    {"Refresh GSM device infromation.", ICON_NORMAL},
    {"Unable to connect to GSM device.", ICON_ERROR},
    {"Disconnect GSM device.", ICON_NORMAL},
    {"Unable to disconnect GSM device.", ICON_ERROR},
    {"Reading new SMS.", ICON_NORMAL},
    {"Insert received SMS into database.", ICON_NORMAL},
    {"Sending SMS.", ICON_NORMAL},
    {"Sending daily report.", ICON_NORMAL},
    {"Sending battery low warning.", ICON_ERROR},
    {"Sending DB connection lost warning.", ICON_ERROR},
    {"Sending service status message.", ICON_NORMAL},
    {"Select SQL script error.", ICON_ERROR},
    {"Insert SQL script error.", ICON_ERROR},
    {"Update SQL script error.", ICON_ERROR},
    {"Sending period exceeded.", ICON_NORMAL},
    {"SIM PIN required but none configured.", ICON_ERROR},
    {"SIM PIN refused.", ICON_ERROR},
    {"SIM PUK required.", ICON_ERROR},
    {"SIM not ready.", ICON_ERROR},
    {"Searching for a network, sending paused.", ICON_ERROR},
    {"Network registration denied, sending paused.", ICON_ERROR},
    {"Not registered on a network, sending paused.", ICON_ERROR},
};

constexpr int kCodeCount = static_cast<int>(sizeof kStatus / sizeof kStatus[0]);

const StatusEntry& Entry(int code) {
    return kStatus[(code > 0 && code < kCodeCount) ? code : 0];
}

}  // namespace

const char* StatusText(int code) { return Entry(code).text; }
int StatusIcon(int code) { return Entry(code).icon; }

CStatusBoard::CStatusBoard(RunState& run, IGatewayClock& clock, Display display)
    : m_run(run), m_clock(clock), m_display(std::move(display)) {}

CStatusBoard::~CStatusBoard() {
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CStatusBoard::SetDisplay(Display display) {
    std::lock_guard lock(m_mutex);
    m_display = std::move(display);
}

void CStatusBoard::SetDisplayTimes(int normalMs, int errorMs) {
    std::lock_guard lock(m_mutex);
    m_nDisplayMs = normalMs;
    m_nErrorDisplayMs = errorMs;
}

void CStatusBoard::StartDisplayThread() {
    std::lock_guard lock(m_mutex);
    if (!m_thread.joinable()) m_thread = std::thread([this] { RunDisplay(); });
}

int CStatusBoard::IconFor(int code) const {
    int icon = StatusIcon(code);
    if (code != STATUS_PAUSED && (!m_run.m_bDeviceLinked || !m_run.m_bDatabaseLinked)) icon = ICON_ERROR;
    if (!m_run.m_bRunning) icon = ICON_PAUSED;
    return icon;
}

std::string CStatusBoard::Text() const {
    std::lock_guard lock(m_mutex);
    return m_strText;
}

void CStatusBoard::SetStatus(int code) {
    if (code == STATUS_IDLE && m_nCondition.load() != 0) code = m_nCondition.load();
    const int icon = IconFor(code);
    bool threaded = false, holding = false;
    {
        std::lock_guard lock(m_mutex);
        if (code == m_nLastStatus.load()) return;
        m_nLastStatus = code;
        m_waiting.push_back(Shown{code, icon});
        if (m_waiting.size() > MAX_WAITING) m_waiting.pop_front();
        threaded = m_thread.joinable();
        holding = m_bHolding;
    }
    // A display thread that holds a code on display takes the next one when the time is
    // up; waking it before would only cost a wake-up.
    if (!threaded)
        ShowDue();
    else if (!holding)
        m_changed.notify_one();
}

long long CStatusBoard::ShowDue() {
    std::unique_lock lock(m_mutex);
    while (!m_bShowing && !m_waiting.empty()) {
        const long long now = m_clock.NowMs();
        if (now < m_nShownUntilMs) return m_nShownUntilMs - now;
        const Shown next = m_waiting.front();
        m_waiting.pop_front();
        if (next.code == m_shown.code && next.icon == m_shown.icon) continue;  // on display already
        m_shown = next;
        m_strText = StatusText(next.code);
        m_nIcon = next.icon;
        const Display display = m_display;
        m_bShowing = true;
        lock.unlock();
        if (display) display(next.code, next.icon, StatusText(next.code));
        lock.lock();
        m_bShowing = false;
        // The display time counts from the moment the code is on display.
        m_nShownUntilMs = m_clock.NowMs() + (next.icon == ICON_ERROR ? m_nErrorDisplayMs : m_nDisplayMs);
    }
    return 0;
}

void CStatusBoard::RunDisplay() {
    std::unique_lock lock(m_mutex);
    while (!m_bQuit) {
        lock.unlock();
        const long long waitMs = ShowDue();
        lock.lock();
        if (m_bQuit) break;
        if (waitMs > 0) {
            m_bHolding = true;
            m_changed.wait_for(lock, std::chrono::milliseconds(waitMs));
            m_bHolding = false;
        } else {
            m_changed.wait(lock, [this] { return m_bQuit || !m_waiting.empty(); });
        }
    }
}
