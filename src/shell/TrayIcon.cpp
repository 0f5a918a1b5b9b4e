#include "shell/TrayIcon.h"

#include "engine/StatusBoard.h"

#include <QPainter>
#include <QPixmap>

QIcon StatusIconImage(int icon) {
    // A filled disc: green running, amber paused, red with a bar for errors.
    QColor fill = icon == ICON_ERROR ? QColor(200, 30, 30) : icon == ICON_PAUSED ? QColor(230, 170, 0) : QColor(30, 150, 60);
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(fill);
    p.drawEllipse(1, 1, 14, 14);
    p.setPen(QPen(Qt::white, 2));
    if (icon == ICON_PAUSED) {
        p.drawLine(6, 5, 6, 11);
        p.drawLine(10, 5, 10, 11);
    } else if (icon == ICON_ERROR) {
        p.drawLine(8, 4, 8, 9);
        p.drawPoint(8, 12);
    } else {
        p.drawLine(5, 8, 7, 11);
        p.drawLine(7, 11, 11, 5);
    }
    return QIcon(pixmap);
}

CTrayIcon::CTrayIcon(std::function<bool()> isRunning, QObject* parent)
    : QObject(parent), m_isRunning(std::move(isRunning)), m_nIcon(ICON_PAUSED) {
    QAction* configuration = m_menu.addAction("Configuration");
    m_menu.setDefaultAction(configuration);
    m_menu.addSeparator();
    m_start = m_menu.addAction("Pellwick Start");
    m_pause = m_menu.addAction("Pellwick Pause");
    m_menu.addSeparator();
    QAction* exit = m_menu.addAction("Stop && Exit...");
    m_start->setCheckable(true);
    m_pause->setCheckable(true);

    connect(configuration, &QAction::triggered, this, [this] { emit Command(ID_TRAY_CONFIGURATION); });
    connect(m_start, &QAction::triggered, this, [this] { emit Command(ID_TRAY_START); });
    connect(m_pause, &QAction::triggered, this, [this] { emit Command(ID_TRAY_PAUSE); });
    connect(exit, &QAction::triggered, this, [this] { emit Command(ID_TRAY_EXIT); });
    connect(&m_menu, &QMenu::aboutToShow, this, &CTrayIcon::UpdateMenu);
    UpdateMenu();
}

CTrayIcon::~CTrayIcon() { Remove(); }

void CTrayIcon::UpdateMenu() {
    bool running = m_isRunning();
    m_start->setEnabled(!running);
    m_start->setChecked(running);
    m_pause->setEnabled(running);
    m_pause->setChecked(!running);
}

bool CTrayIcon::Add(int icon) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    m_nIcon = icon;
    if (!m_tray) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setToolTip("Orvane Pellwick");
        m_tray->setContextMenu(&m_menu);
        connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) emit Command(ID_TRAY_CONFIGURATION);
        });
    }
    m_tray->setIcon(StatusIconImage(icon));
    m_tray->show();
    return m_tray->isVisible();
}

void CTrayIcon::SetIcon(int icon) {
    m_nIcon = icon;
    if (m_tray) m_tray->setIcon(StatusIconImage(icon));
}

void CTrayIcon::Remove() {
    if (!m_tray) return;
    m_tray->setIcon(StatusIconImage(ICON_PAUSED));
    m_tray->hide();
    m_tray.reset();
}
