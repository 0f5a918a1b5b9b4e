#include "dialog/ConfigPages.h"

#include "config/MessageHook.h"
#include "dialog/DatabasePage.h"
#include "dialog/DevicePage.h"
#include "dialog/InformationPage.h"
#include "dialog/MessagePage.h"

#include <QAbstractSpinBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

bool HeadlessPlatform() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace

CConfigPages::CConfigPages(CSettings& settings, RunState& run, ConfigHooks hooks, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_run(run), m_hooks(std::move(hooks)) {
    setWindowTitle(CONFIG_WINDOW_CAPTION);
    QFont verdana = font();
    verdana.setFamily("Verdana");
    setFont(verdana);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("tabs");
    m_devicePage = new CDevicePage(m_settings, m_run, m_hooks.setDriverRetry);
    m_databasePage = new CDatabasePage(m_settings, m_run);
    m_messagePage = new CMessagePage(m_settings);
    m_informationPage = new CInformationPage(
        m_settings, InformationSources{m_hooks.device, m_hooks.storeBattery, m_hooks.statusText});
    m_tabs->addTab(m_devicePage, "Device");
    m_tabs->addTab(m_databasePage, "Database");
    m_tabs->addTab(m_messagePage, "Message");
    m_tabs->addTab(m_informationPage, "Information");

    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        // Inside a dialog a button would otherwise take Enter as a click.
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    m_ok = button("OK", "ok");
    m_apply = button("Apply", "apply");
    m_cancel = button("Cancel", "cancel");
    m_help = button("Help", "help");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {m_ok, m_apply, m_cancel, m_help}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);

    for (CEditPage* page : {static_cast<CEditPage*>(m_devicePage), static_cast<CEditPage*>(m_databasePage),
                            static_cast<CEditPage*>(m_messagePage)})
        connect(page, &CEditPage::changed, this, [this] { SetApplyEnabled(true); });
    connect(m_ok, &QPushButton::clicked, this, &CConfigPages::OnOk);
    connect(m_apply, &QPushButton::clicked, this, &CConfigPages::ApplySettings);
    connect(m_cancel, &QPushButton::clicked, this, &CConfigPages::OnCancel);
    connect(m_help, &QPushButton::clicked, this, &CConfigPages::OnHelp);

    SetApplyEnabled(false);
    SelectTab(TAB_INFORMATION);
    m_informationPage->Refresh();
}

void CConfigPages::SetApplyEnabled(bool enabled) {
    m_ok->setEnabled(enabled);
    m_apply->setEnabled(enabled);
}

void CConfigPages::SelectTab(int index) { m_tabs->setCurrentIndex(index); }

void CConfigPages::LoadFromSettings() {
    m_devicePage->LoadFromSettings();
    m_databasePage->LoadFromSettings();
    m_messagePage->LoadFromSettings();
    SetApplyEnabled(false);
}

bool CConfigPages::CommitToSettings() {
    // Every page is read before anything is committed, so a bad field leaves the
    // record, the driver and the links as they were.
    const std::pair<int, CEditPage*> pages[] = {
        {TAB_DEVICE, m_devicePage}, {TAB_DATABASE, m_databasePage}, {TAB_MESSAGE, m_messagePage}};
    for (const auto& [tab, page] : pages) {
        if (std::optional<FieldError> error = page->ReadControls()) {
            ShowFieldError(tab, *error);
            return false;
        }
    }
    for (const auto& [tab, page] : pages) page->CommitToSettings();
    return true;
}

bool CConfigPages::ApplySettings() {
    if (!CommitToSettings()) return false;
    SetApplyEnabled(false);
    if (m_hooks.saveSettings) m_hooks.saveSettings();
    if (m_hooks.setAutoStart) m_hooks.setAutoStart(m_settings.m_bAutoStart != 0);
    SelectTab(TAB_INFORMATION);
    return true;
}

void CConfigPages::ShowFieldError(int tab, const FieldError& error) {
    SelectTab(tab);
    const QString caption = QString::fromUtf8(CONFIG_WINDOW_CAPTION);
    if (HeadlessPlatform())
        // Nobody could dismiss a box here.
        ShowErrorMessage(error.text.toStdString(), caption.toStdString());
    else
        QMessageBox::warning(this, caption, error.text);
    if (error.field) {
        error.field->setFocus(Qt::OtherFocusReason);
        if (auto* number = qobject_cast<QAbstractSpinBox*>(error.field)) number->selectAll();
    }
}

void CConfigPages::OnOk() {
    if (ApplySettings() && m_hooks.hideWindow) m_hooks.hideWindow();
}

void CConfigPages::OnCancel() {
    // The edits stay in the controls until the next showing reloads them.
    if (m_hooks.hideWindow) m_hooks.hideWindow();
}

void CConfigPages::OnHelp() {
    if (m_hooks.openHelp) m_hooks.openHelp();
}

bool IsEnterOrEscape(const QKeyEvent* event) {
    const int key = event->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

void CConfigPages::keyPressEvent(QKeyEvent* event) {
    if (IsEnterOrEscape(event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}
