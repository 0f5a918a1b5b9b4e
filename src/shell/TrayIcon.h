#pragma once
// The notification-area icon: three pictures (normal, paused, error), the tooltip
// "Orvane Pellwick" and the menu Configuration / Start / Pause / Stop && Exit.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

// Menu command identifiers.
constexpr int ID_TRAY_EXIT = 32772;
constexpr int ID_TRAY_START = 32773;
constexpr int ID_TRAY_PAUSE = 32774;
constexpr int ID_TRAY_CONFIGURATION = 32775;

// The 16x16 picture of an icon code (ICON_NORMAL, ICON_PAUSED, ICON_ERROR).
QIcon StatusIconImage(int icon);

class CTrayIcon : public QObject {
    Q_OBJECT
public:
    // isRunning tells the menu which of Start / Pause to offer.
    CTrayIcon(std::function<bool()> isRunning, QObject* parent = nullptr);
    ~CTrayIcon() override;

    // Adds the icon when a notification area exists; false means try again later.
    bool Add(int icon);
    bool IsAdded() const { return m_tray && m_tray->isVisible(); }
    void SetIcon(int icon);
    // Shows the paused picture once more and takes the icon away.
    void Remove();
    QMenu* Menu() { return &m_menu; }
    // Brings the menu's checked and enabled states up to date with the run state.
    void UpdateMenu();

signals:
    void Command(int id);

private:
    std::function<bool()> m_isRunning;
    QMenu m_menu;
    QAction* m_start = nullptr;
    QAction* m_pause = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    int m_nIcon;
};
