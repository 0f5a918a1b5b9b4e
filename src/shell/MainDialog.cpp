#include "shell/MainDialog.h"

#include "config/MessageHook.h"
#include "config/SettingsFile.h"
#include "dialog/ConfigPages.h"
#include "dialog/HotKey.h"
#include "link/Journal.h"
#include "link/LogFile.h"
#include "shell/Names.h"
#include "shell/ServiceCommands.h"
#include "shell/ServiceProcess.h"
#include "shell/TrayIcon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QVBoxLayout>

#include <chrono>
#include <thread>

// The stop control posts the tray menu's "Stop && Exit...".
static_assert(STOP_AND_EXIT_COMMAND == ID_TRAY_EXIT);

namespace {

constexpr int kTimerMs = 1000;
constexpr int kShutdownTickLimit = 30;

// Platforms without a screen a person could see.
bool HeadlessPlatform() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent),
      m_core(std::make_shared<CGatewayCore>()),
      m_run(m_core->run),
      m_status(m_core->status),
      m_mobile(m_core->mobile),
      m_gateway(m_core->gateway) {
    setWindowTitle(QString::fromUtf8(CONFIG_WINDOW_CAPTION));
    OnInitDialog();
}

MainDialog::~MainDialog() {
    m_status.SetDisplay({});  // the board may outlive the window
    m_run.m_bStop = 1;
    m_core->worker.Wake();
    if (m_workerThread.joinable()) {
        // Normally the worker has ended already (the shutdown timer waited for it). An
        // error box it asks for meanwhile still needs this thread's event loop.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!m_core->workerEnded && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // A worker that hangs is left to the process exit; it holds what it uses.
        if (m_core->workerEnded)
            m_workerThread.join();
        else
            m_workerThread.detach();
    }
    delete m_tray;  // shows the paused picture once more and removes the icon
    SetErrorMessageHook(m_previousMessageHook);
}

void MainDialog::OnInitDialog() {
    // From here on, error messages get a real box while a screen exists.
    m_previousMessageHook = SetErrorMessageHook([this](const std::string& text, const std::string& caption) {
        ShowErrorBox(QString::fromStdString(text), QString::fromStdString(caption));
    });
    theLog.PrintfTimed("%s started.\n", DISPLAY_NAME);

    InstallHotKey([this] { ShowConfiguration(); });

    ConfigHooks hooks;
    hooks.setDriverRetry = [this](int interval, int attempts) {
        m_mobile.SetRetryInterval(interval);
        m_mobile.SetSendAttempts(attempts);
    };
    hooks.saveSettings = [] { return SaveSettings(); };
    hooks.setAutoStart = [](bool automatic) { SetServiceAutoStart(automatic ? 1 : 0); };
    hooks.device = [this] { return m_gateway.Device(); };
    hooks.storeBattery = [this](int level) { m_gateway.SetBatteryLevel(level); };
    hooks.statusText = [this] { return m_status.Text(); };
    hooks.hideWindow = [this] { HideWindow(); };
    hooks.openHelp = [this] { m_manual.Open(); };
    m_pages = new CConfigPages(theSettings, m_run, hooks, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);

    LoadSettings();
    m_core->ApplyLoadedSettings();
    m_pages->SelectTab(CConfigPages::TAB_INFORMATION);

    m_run.m_bStop = 0;
    m_run.m_bRunning = 1;
    m_tray = new CTrayIcon([this] { return m_run.m_bRunning.load() == 1; });
    connect(m_tray, &CTrayIcon::Command, this, &MainDialog::OnCommand);
    QPointer<MainDialog> window(this);
    m_status.SetDisplay([window](int, int icon, const std::string& text) {
        // The service manager's view needs no window.
        NotifyServiceStatusText(text);
        auto show = [window, icon] {
            if (window) window->DisplayStatus(icon);
        };
        // The application object outlives the window. Nobody waits for the picture:
        // the board holds each status for its display time by itself.
        QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
    });
    m_status.StartDisplayThread();
    CGatewayCore::InstallStopCheck(m_core);

    connect(&m_timer1, &QTimer::timeout, this, &MainDialog::OnTimer1);
    connect(&m_timer2, &QTimer::timeout, this, &MainDialog::OnTimer2);
    connect(&m_timer3, &QTimer::timeout, this, &MainDialog::OnTimer3);
    m_timer1.start(kTimerMs);
    m_timer3.start(kTimerMs);
    QMetaObject::invokeMethod(this, &MainDialog::OnTimer3, Qt::QueuedConnection);
    // Started from the event loop, once the window is complete.
    QMetaObject::invokeMethod(this, &MainDialog::StartWorker, Qt::QueuedConnection);
}

void MainDialog::StartWorker() {
    if (m_workerThread.joinable()) return;
    m_workerThread = CGatewayCore::StartWorker(m_core, [this] { RunWorker(); });
}

void MainDialog::RunWorker() { m_core->worker.WorkerThreadProc(); }

void MainDialog::OnTimer1() {
    // Without a tray icon (yet) the window stays; it goes once the icon is there.
    if (TrayMissing())
        m_bKeptForMissingTray = true;
    else
        HideWindow();
    m_timer1.stop();
}

void MainDialog::OnTimer3() {
    if (m_tray && m_tray->Add(m_status.Icon())) {
        m_timer3.stop();
        if (m_bKeptForMissingTray) {
            m_bKeptForMissingTray = false;
            HideWindow();
        }
        return;
    }
    if (TrayMissing() && !m_bTrayMissingLogged) {
        m_bTrayMissingLogged = true;
        Journal(JOURNAL_NOTICE, "The system tray is not available: the window stays open instead of a tray icon.");
    }
}

bool MainDialog::TrayMissing() const { return !HeadlessPlatform() && !(m_tray && m_tray->IsAdded()); }

void MainDialog::OnTimer2() {
    // The worker clears m_bStop when its loop has ended.
    if (m_run.m_bStop == 0 || m_nShutdownTicks > kShutdownTickLimit) {
        m_gateway.DisconnectLinks();
        m_timer2.stop();
        done(QDialog::Accepted);
    }
    ++m_nShutdownTicks;
}

void MainDialog::DisplayStatus(int icon) {
    setWindowIcon(StatusIconImage(icon));
    if (m_tray) m_tray->SetIcon(icon);
}

void MainDialog::ShowErrorBox(const QString& text, const QString& caption) {
    if (HeadlessPlatform()) {
        LogErrorMessage(text.toStdString(), caption.toStdString());
        return;
    }
    auto show = [this, text, caption] { QMessageBox::critical(this, caption, text); };
    if (QThread::currentThread() == thread())
        show();
    else
        // The calling thread waits until the box is dismissed.
        QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
}

void MainDialog::PostCommand(int id) {
    QMetaObject::invokeMethod(this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

void MainDialog::OnCommand(int id) {
    switch (id) {
    case ID_TRAY_CONFIGURATION:
        ShowConfiguration();
        break;
    case ID_TRAY_START:
        m_run.m_bRunning = 1;
        break;
    case ID_TRAY_PAUSE:
        m_run.m_bRunning = 0;
        break;
    case ID_TRAY_EXIT:
        if (m_timer2.isActive()) break;
        theLog.PrintfTimed("%s stopping.\n", DISPLAY_NAME);
        m_core->RequestStop();
        m_timer2.start(m_nShutdownTimerMs);
        break;
    default:
        break;
    }
    m_core->worker.Wake();  // the run state changes now, not at the end of the worker's wait
    if (m_tray) m_tray->UpdateMenu();
}

void MainDialog::ShowConfiguration() {
    showNormal();
    raise();
    activateWindow();
}

void MainDialog::HideWindow() {
    if (TrayMissing())
        showMinimized();
    else
        hide();
}

void MainDialog::showEvent(QShowEvent* event) {
    // Every showing reloads the pages from the record.
    m_pages->LoadFromSettings();
    QDialog::showEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    HideWindow();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape never close or hide the window.
    if (IsEnterOrEscape(event))
        event->accept();
    else
        QDialog::keyPressEvent(event);
}

int MainDialog::exec() {
    QEventLoop loop;
    m_pModalLoop = &loop;
    setResult(0);
    show();  // visible for a second, then timer 1 hides it
    loop.exec(QEventLoop::DialogExec);
    m_pModalLoop = nullptr;
    return result();
}

void MainDialog::done(int result) {
    setResult(result);
    hide();
    if (m_pModalLoop) m_pModalLoop->exit(result);
    emit finished(result);
}

void MainDialog::reject() { HideWindow(); }
