#pragma once
// Status codes: what the gateway is doing, with the text and icon each shows.
// SetStatus publishes a code and returns at once; the board shows the codes in order,
// each for at least its display time (0.5 s, 1 s under the error icon). Codes wait in a
// short queue behind the one on display; should it fill, the oldest waiting code goes,
// so the display never falls far behind. Codes 25 and up
// name a standing device condition (SIM locked, no network) that keeps sending paused.
#include "engine/Clock.h"
#include "engine/RunState.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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
    // Shows a code: called with the code, the icon to show and the text, from the display
    // thread once it runs (otherwise from the caller of SetStatus). It may take its time:
    // nobody who publishes waits for it.
    using Display = std::function<void(int code, int icon, const std::string& text)>;

    static constexpr int DISPLAY_MS = 500;
    static constexpr int ERROR_DISPLAY_MS = 1000;
    static constexpr std::size_t MAX_WAITING = 8;  // codes queued behind the one on display

    CStatusBoard(RunState& run, IGatewayClock& clock, Display display = {});
    ~CStatusBoard();
    CStatusBoard(const CStatusBoard&) = delete;
    CStatusBoard& operator=(const CStatusBoard&) = delete;

    void SetDisplay(Display display);
    // The least time a code stays on display; 0 shows every code as it is published.
    void SetDisplayTimes(int normalMs, int errorMs);
    // Starts the thread that shows queued codes when their turn comes. Without it, a
    // queued code is shown by the next SetStatus or ShowDue after its turn has come.
    void StartDisplayThread();

    // Publishes a code; never waits. The same code as the last one published is ignored.
    void SetStatus(int code);
    // Shows the queued code if the one on display has had its time. Returns the
    // milliseconds until that time is up while a code is queued, else 0.
    long long ShowDue();
    // The icon the code shows now, given the link and run flags.
    int IconFor(int code) const;
    // A standing condition (0: none) shown instead of "Idle." until it is cleared.
    void SetCondition(int code) { m_nCondition = code; }
    int Condition() const { return m_nCondition.load(); }

    int LastStatus() const { return m_nLastStatus.load(); }  // the last code published
    std::string Text() const;                                 // the text on display
    int Icon() const { return m_nIcon.load(); }               // the icon on display

private:
    struct Shown {
        int code = 0;
        int icon = 0;
    };
    void RunDisplay();

    RunState& m_run;
    IGatewayClock& m_clock;
    Display m_display;
    int m_nDisplayMs = DISPLAY_MS;
    int m_nErrorDisplayMs = ERROR_DISPLAY_MS;
    std::atomic<int> m_nLastStatus{0};
    std::atomic<int> m_nIcon{ICON_PAUSED};
    std::atomic<int> m_nCondition{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Shown> m_waiting;  // published, in order, waiting for their turn
    Shown m_shown;
    long long m_nShownUntilMs = 0;
    bool m_bShowing = false;  // a display call is under way
    bool m_bHolding = false;  // the display thread waits for a display time to run out
    bool m_bQuit = false;
    std::string m_strText;
    std::thread m_thread;
};
