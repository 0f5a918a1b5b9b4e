#pragma once
// The main window of the server: one hidden dialog, run modally for the life of the
// server. Creating it loads the settings; the "Stop && Exit..." command ends its loop.
//
// Still to come in this class: the worker thread started after the settings load, the
// one-second shutdown timer, the notification-area icon and the configuration pages.
// Commands from the tray menu and the stop control arrive through OnCommand.
#include <QDialog>
#include <QEventLoop>

#include <functional>

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

public slots:
    void OnCommand(int id);
    // Escape or the window's close button hides the pages; only "Stop && Exit..." ends.
    void reject() override;

private:
    void OnInitDialog();
    void OnTrayExit();
    void ShowErrorBox(const QString& text, const QString& caption);

    QEventLoop* m_pModalLoop = nullptr;
    std::function<void(const std::string&, const std::string&)> m_previousMessageHook;
};
