#pragma once
// Status codes: what the gateway is doing, with the text and icon each shows.
// SetStatus publishes a code and makes its caller spend the display time, so every
// change stays visible at least 0.5 s (1 s under the error icon). Codes 25 and up name
// a standing device condition (SIM locked, no network) that keeps sending paused.
#include "engine/Clock.h"
#include "engine/RunState.h"

#include <functional>
#include <mutex>
#include <string>

constexpr int ICON_NORMAL = 170;
constexpr int ICON_PAUSED = 167;
constexpr int ICON_ERROR = 155;

enum StatusCode {
    STATUS_IDLE = 1,
    STATUS_PAUSED = 2,
    STATUS_DB_CONNECT = 3,
    STATUS_DB_QUERY = 4,
    STATUS_DB_CONNECT_FAILED = 5,
    STATUS_DB_DISCONNECT = 6,
    STATUS_DB_DISCONNECT_FAILED = 7,
    STATUS_DB_ERROR = 8,
    STATUS_GSM_CONNECT = 9,
    STATUS_GSM_REFRESH = 10,
    STATUS_GSM_CONNECT_FAILED = 11,
    STATUS_GSM_DISCONNECT = 12,
    STATUS_GSM_DISCONNECT_FAILED = 13,
    STATUS_READING_SMS = 14,
    STATUS_INSERTING_SMS = 15,
    STATUS_SENDING_SMS = 16,
    STATUS_DAILY_REPORT = 17,
    STATUS_BATTERY_WARNING = 18,
    STATUS_DB_LOST_WARNING = 19,
    STATUS_SERVICE_REPLY = 20,
    STATUS_SELECT_ERROR = 21,
    STATUS_INSERT_ERROR = 22,
    STATUS_UPDATE_ERROR = 23,
    STATUS_PERIOD_EXCEEDED = 24,
    STATUS_SIM_PIN_MISSING = 25,
    STATUS_SIM_PIN_REFUSED = 26,
    STATUS_SIM_PUK_REQUIRED = 27,
    STATUS_SIM_NOT_READY = 28,
    STATUS_NET_SEARCHING = 29,
    STATUS_NET_DENIED = 30,
    STATUS_NET_NONE = 31,
};

// Text of a code ("" outside 1..31) and the icon the code carries by itself.
const char* StatusText(int code);
int StatusIcon(int code);

class CStatusBoard {
public:
    // Shows a new code: called with the code, the icon to show and the text.
    // The shell makes this reach its user-interface thread and waits for it.
    using Display = std::function<void(int code, int icon, const std::string& text)>;

    CStatusBoard(RunState& run, IGatewayClock& clock, Display display = {});

    void SetDisplay(Display display);
    // Publishes a code; returns after its display time or at a stop request.
    void SetStatus(int code);
    // The icon the code shows now, given the link and run flags.
    int IconFor(int code) const;
    // A standing condition (0: none) shown instead of "Idle." until it is cleared.
    void SetCondition(int code) { m_nCondition = code; }
    int Condition() const { return m_nCondition.load(); }

    int LastStatus() const { return m_nLastStatus.load(); }
    std::string Text() const;
    int Icon() const { return m_nIcon.load(); }

private:
    RunState& m_run;
    IGatewayClock& m_clock;
    Display m_display;
    std::atomic<int> m_nLastStatus{0};
    std::atomic<int> m_nIcon{ICON_PAUSED};
    std::atomic<int> m_nCondition{0};
    mutable std::mutex m_textMutex;
    std::string m_strText;
};
