#pragma once
// Page "Database": the data source, its login, the query interval and the SQL templates.
#include "config/Settings.h"
#include "dialog/EditPage.h"
#include "engine/RunState.h"

#include <string>

class QLineEdit;

class CDatabasePage : public CEditPage {
    Q_OBJECT
public:
    CDatabasePage(CSettings& settings, RunState& run, QWidget* parent = nullptr);

    void LoadFromSettings() override;
    std::optional<FieldError> ReadControls() override;
    void CommitToSettings() override;

    // Working copies.
    std::string m_strDsn;
    std::string m_strDbUser;
    std::string m_strDbPassword;
    std::string m_strSelectSql;
    std::string m_strUpdateSql;
    std::string m_strInsertSql;
    int m_nQueryInterval = 1;

private:
    void MarkChanged();

    CSettings& m_settings;
    RunState& m_run;

    QLineEdit* m_dsn;
    QLineEdit* m_dbUser;
    QLineEdit* m_dbPassword;
    CNumberField* m_queryInterval;
    QLineEdit* m_selectSql;
    QLineEdit* m_updateSql;
    QLineEdit* m_insertSql;
};
