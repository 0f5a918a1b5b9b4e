#pragma once
// Page "Message": the sending period, the reports and warnings, and the service start type.
#include "config/Settings.h"
#include "dialog/EditPage.h"

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

class CMessagePage : public CEditPage {
    Q_OBJECT
public:
    explicit CMessagePage(CSettings& settings, QWidget* parent = nullptr);

    void LoadFromSettings() override;
    std::optional<FieldError> ReadControls() override;
    void CommitToSettings() override;
    // Enables the hour lists with their check boxes and "Phone No." while anything is
    // sent to it.
    void UpdateEnabling();

    // Working copies.
    int m_bSendingPeriod = 0;
    int m_nStartTime = 0;
    int m_nEndTime = 0;
    int m_bDbLostWarning = 0;
    int m_bDailyReport = 0;
    int m_nReportTime = 0;
    int m_bBatteryWarning = 0;
    std::string m_strReportPhone;
    int m_bAutoStart = 0;
    int m_bLogFile = 0;  // carried through unchanged; no control shows it

private:
    void ReadChecksAndLists();

    CSettings& m_settings;

    QCheckBox* m_sendingPeriod;
    QComboBox* m_startTime;
    QComboBox* m_endTime;
    QCheckBox* m_dbLostWarning;
    QCheckBox* m_dailyReport;
    QComboBox* m_reportTime;
    QCheckBox* m_batteryWarning;
    QLineEdit* m_reportPhone;
    QCheckBox* m_autoStart;
};
