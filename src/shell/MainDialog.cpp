#include "shell/MainDialog.h"

#include "config/MessageHook.h"
#include "config/Settings.h"
#include "link/LogFile.h"
#include "shell/Names.h"
#include "shell/ServiceProcess.h"
#include "shell/TrayIcon.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

// The stop control posts the tray menu's "Stop && Exit..." command.
static_assert(STOP_AND_EXIT_COMMAND == ID_TRAY_EXIT);

namespace {

// Platforms without a screen a person could see.
bool HeadlessPlatform() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace

MainDialog::MainDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(DISPLAY_NAME));
    OnInitDialog();
}

MainDialog::~MainDialog() { SetErrorMessageHook(m_previousMessageHook); }

void MainDialog::OnInitDialog() {
    // From here on, error messages get a real box while a screen exists.
    m_previousMessageHook = SetErrorMessageHook([this](const std::string& text, const std::string& caption) {
        ShowErrorBox(QString::fromStdString(text), QString::fromStdString(caption));
    });
    theLog.PrintfTimed("%s started.\n", DISPLAY_NAME);
    LoadSettings();
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
    case ID_TRAY_EXIT:
        OnTrayExit();
        break;
    default:
        break;
    }
}

void MainDialog::OnTrayExit() {
    theLog.PrintfTimed("%s stopped.\n", DISPLAY_NAME);
    done(0);
}

int MainDialog::exec() {
    QEventLoop loop;
    m_pModalLoop = &loop;
    setResult(0);
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

void MainDialog::reject() {
    hide();
}
