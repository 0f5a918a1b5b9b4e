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

void CStatusBoard::SetDisplay(Display display) { m_display = std::move(display); }

int CStatusBoard::IconFor(int code) const {
    int icon = StatusIcon(code);
    if (code != STATUS_PAUSED && (!m_run.m_bDeviceLinked || !m_run.m_bDatabaseLinked)) icon = ICON_ERROR;
    if (!m_run.m_bRunning) icon = ICON_PAUSED;
    return icon;
}

std::string CStatusBoard::Text() const {
    std::lock_guard lock(m_textMutex);
    return m_strText;
}

void CStatusBoard::SetStatus(int code) {
    if (code == STATUS_IDLE && m_nCondition.load() != 0) code = m_nCondition.load();
    int icon = IconFor(code);
    if (code == m_nLastStatus.load()) return;

    m_nIcon = icon;
    {
        std::lock_guard lock(m_textMutex);
        m_strText = StatusText(code);
    }
    if (m_display) m_display(code, icon, StatusText(code));

    int slices = icon == ICON_ERROR ? 10 : 5;
    if (!SleepSlices(m_clock, m_run.m_bStop, slices, 100)) return;
    m_nLastStatus = code;
}
