#pragma once
// The main window of the server: one dialog, run modally for the life of the server,
// shown for a second at start and afterwards only on request. It owns the gateway (the
// modem driver, the database layer and the engine), starts the worker thread that runs
// the tick loop, carries the notification-area icon and the configuration pages, and
// ends on "Stop && Exit..." after the worker has ended or 31 seconds have passed.
#include "shell/GatewayCore.h"
#include "shell/Manual.h"

#include <QDialog>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class CConfigPages;
class CTrayIcon;

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // Queues a command for the window's thread, like posting a window message; callable
    // from any thread.
    void PostCommand(int id);

    // The modal loop of the server. Unlike QDialog's own, it runs while the window is
    // hidden and survives hiding it; only done() ends it.
    int exec() override;
    void done(int result) override;

    // Shows the window restored and in front, with every page reloaded.
    void ShowConfiguration();
    void HideWindow();

    RunState& Run() { return m_run; }
    CStatusBoard& Status() { return m_status; }
    CGateway& Gateway() { return m_gateway; }
    CMobile& Mobile() { return m_mobile; }
    CTrayIcon* Tray() { return m_tray; }
    CConfigPages* Pages() { return m_pages; }
    // Where the Help button looks for the manual and how it opens it.
    void SetManual(CManual manual) { m_manual = std::move(manual); }
    // On a desktop without a system tray the window is the only way in: it is not hidden
    // at start, and hiding it minimises it.
    bool TrayMissing() const;
    int ShutdownTicks() const { return m_nShutdownTicks; }
    bool WorkerEnded() const { return m_core->workerEnded; }

public slots:
    void OnCommand(int id);
    // Escape or the window's close button hides the pages; only "Stop && Exit..." ends.
    void reject() override;

protected:
    // The worker thread's body; tests replace it to stand for a worker that hangs.
    virtual void RunWorker();
    // Period of the shutdown timer (1 s); tests shorten it.
    void SetShutdownTimerMs(int ms) { m_nShutdownTimerMs = ms; }
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void StartWorker();
    void OnTimer1();
    void OnTimer2();
    void OnTimer3();
    void DisplayStatus(int icon);
    void ShowErrorBox(const QString& text, const QString& caption);

    std::shared_ptr<CGatewayCore> m_core;
    RunState& m_run;
    CStatusBoard& m_status;
    CMobile& m_mobile;
    CGateway& m_gateway;

    CTrayIcon* m_tray = nullptr;
    bool m_bTrayMissingLogged = false;
    bool m_bKeptForMissingTray = false;  // the start-up hide waits for the tray icon
    CManual m_manual;
    CConfigPages* m_pages = nullptr;
    QTimer m_timer1, m_timer2, m_timer3;
    int m_nShutdownTicks = 0;
    int m_nShutdownTimerMs = 1000;

    std::thread m_workerThread;
    QEventLoop* m_pModalLoop = nullptr;
    std::function<void(const std::string&, const std::string&)> m_previousMessageHook;
};
