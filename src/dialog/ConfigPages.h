#pragma once
// The configuration pages of the main window: a tab control with "Device", "Database",
// "Message" and "Information", and the buttons "OK", "Apply", "Cancel" and "Help".
// The window that holds them calls LoadFromSettings each time it is shown.
#include "config/Settings.h"
#include "engine/Gateway.h"
#include "engine/RunState.h"

#include <QWidget>

#include <functional>
#include <string>

class QKeyEvent;
class QPushButton;
class QTabWidget;
class CDevicePage;
class CDatabasePage;
class CMessagePage;
class CInformationPage;
class CEditPage;
struct FieldError;

// The window caption that goes with the pages.
constexpr const char* CONFIG_WINDOW_CAPTION = "Orvane Pellwick 1.7";

// What the pages call in the rest of the program. Empty hooks are skipped.
struct ConfigHooks {
    std::function<void(int intervalSeconds, int attempts)> setDriverRetry;  // attempts = retry count + 1
    std::function<int()> saveSettings;
    std::function<void(bool automatic)> setAutoStart;
    std::function<DeviceInfo()> device;
    std::function<void(int level)> storeBattery;
    std::function<std::string()> statusText;
    std::function<void()> hideWindow;  // after "OK" has applied, and for "Cancel"
    std::function<void()> openHelp;
};

class CConfigPages : public QWidget {
    Q_OBJECT
public:
    enum Tab { TAB_DEVICE = 0, TAB_DATABASE = 1, TAB_MESSAGE = 2, TAB_INFORMATION = 3 };

    CConfigPages(CSettings& settings, RunState& run, ConfigHooks hooks, QWidget* parent = nullptr);

    // Every editing page reloads from the record (clearing the change flags); "OK" and
    // "Apply" are disabled until the next edit.
    void LoadFromSettings();
    // Checks and commits every page, then saves and sets the start type. A field that
    // fails its check stops it all: the page with the field is shown with a message and
    // nothing is committed. Returns whether the settings were applied.
    bool ApplySettings();
    void SelectTab(int index);

    QTabWidget* Tabs() const { return m_tabs; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* CancelButton() const { return m_cancel; }
    QPushButton* HelpButton() const { return m_help; }
    CDevicePage* DevicePage() const { return m_devicePage; }
    CDatabasePage* DatabasePage() const { return m_databasePage; }
    CMessagePage* MessagePage() const { return m_messagePage; }
    CInformationPage* InformationPage() const { return m_informationPage; }

protected:
    // Enter and Escape end nothing here: the host window must stay open.
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool CommitToSettings();
    void ShowFieldError(int tab, const FieldError& error);
    void SetApplyEnabled(bool enabled);
    void OnOk();
    void OnCancel();
    void OnHelp();

    CSettings& m_settings;
    RunState& m_run;
    ConfigHooks m_hooks;

    QTabWidget* m_tabs;
    CDevicePage* m_devicePage;
    CDatabasePage* m_databasePage;
    CMessagePage* m_messagePage;
    CInformationPage* m_informationPage;
    QPushButton* m_ok;
    QPushButton* m_apply;
    QPushButton* m_cancel;
    QPushButton* m_help;
};

// Enter and Escape: the keys that must never close or hide the window.
bool IsEnterOrEscape(const QKeyEvent* event);
