#include "dialog/DatabasePage.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

CDatabasePage::CDatabasePage(CSettings& settings, RunState& run, QWidget* parent)
    : CEditPage(parent), m_settings(settings), m_run(run) {
    auto lineEdit = [this](const char* name, const char* setting) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        LimitBytes(edit, setting);
        return edit;
    };
    m_dsn = lineEdit("dsn", "dsn");
    m_dbUser = lineEdit("dbUser", "db_user");
    m_dbPassword = lineEdit("dbPassword", "db_password");
    m_dbPassword->setEchoMode(QLineEdit::Password);
    m_queryInterval = new CNumberField(3, 32767, this);
    m_queryInterval->setObjectName("queryInterval");
    m_selectSql = lineEdit("selectSql", "select_sql");
    m_updateSql = lineEdit("updateSql", "update_sql");
    m_insertSql = lineEdit("insertSql", "insert_sql");
    for (QLineEdit* edit : {m_selectSql, m_updateSql, m_insertSql})
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 60);

    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addRow = [&](const char* label, QWidget* field, bool acrossPage) {
        grid->addWidget(new QLabel(label, this), row, 0);
        grid->addWidget(field, row, 1, 1, acrossPage ? 2 : 1);
        ++row;
    };
    addRow("DSN", m_dsn, false);
    addRow("User", m_dbUser, false);
    addRow("Password", m_dbPassword, false);
    addRow("Query Interval(s)", m_queryInterval, false);
    addRow("Select", m_selectSql, true);
    addRow("Update", m_updateSql, true);
    addRow("Insert", m_insertSql, true);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(2, 1);

    // The login fields count every change of their text, also the one made by loading.
    for (QLineEdit* edit : {m_dsn, m_dbUser, m_dbPassword})
        connect(edit, &QLineEdit::textChanged, this, &CDatabasePage::MarkChanged);
    for (QLineEdit* edit : {m_selectSql, m_updateSql, m_insertSql})
        connect(edit, &QLineEdit::textChanged, this, &CEditPage::changed);
    connect(m_queryInterval, &CNumberField::textChanged, this, &CEditPage::changed);
}

void CDatabasePage::MarkChanged() {
    m_settings.m_bDbChanged = 1;
    emit changed();
}

void CDatabasePage::LoadFromSettings() {
    m_settings.m_bDbChanged = 0;
    m_strDsn = m_settings.m_strDsn;
    m_strDbUser = m_settings.m_strDbUser;
    m_strDbPassword = m_settings.m_strDbPassword;
    m_strSelectSql = m_settings.m_strSelectSql;
    m_strUpdateSql = m_settings.m_strUpdateSql;
    m_strInsertSql = m_settings.m_strInsertSql;
    m_nQueryInterval = m_settings.m_nQueryInterval;
    m_bLoading = true;
    SetLimitedText(m_dsn, m_strDsn);
    SetLimitedText(m_dbUser, m_strDbUser);
    SetLimitedText(m_dbPassword, m_strDbPassword);
    m_queryInterval->SetValue(m_nQueryInterval);
    SetLimitedText(m_selectSql, m_strSelectSql);
    SetLimitedText(m_updateSql, m_strUpdateSql);
    SetLimitedText(m_insertSql, m_strInsertSql);
    m_bLoading = false;
}

std::optional<FieldError> CDatabasePage::ReadControls() {
    int interval = 0;
    // The worker divides by the interval: it never goes below one pass.
    if (auto error = CheckSetting(m_queryInterval, m_queryInterval->Text(), "query_interval", interval)) return error;
    m_strDsn = m_dsn->text().toStdString();
    m_strDbUser = m_dbUser->text().toStdString();
    m_strDbPassword = m_dbPassword->text().toStdString();
    m_nQueryInterval = interval;
    m_strSelectSql = m_selectSql->text().toStdString();
    m_strUpdateSql = m_updateSql->text().toStdString();
    m_strInsertSql = m_insertSql->text().toStdString();
    return std::nullopt;
}

void CDatabasePage::CommitToSettings() {
    m_settings.m_strDsn = m_strDsn;
    m_settings.m_strDbUser = m_strDbUser;
    m_settings.m_strDbPassword = m_strDbPassword;
    m_settings.m_strSelectSql = m_strSelectSql;
    m_settings.m_strUpdateSql = m_strUpdateSql;
    m_settings.m_strInsertSql = m_strInsertSql;
    m_settings.m_nQueryInterval = m_nQueryInterval;
    if (m_settings.m_bDbChanged) {
        // The supervision reopens the database with the new values, and a paused server resumes.
        m_run.m_bDatabaseLinked = 0;
        m_run.m_bRunning = 1;
    }
}
