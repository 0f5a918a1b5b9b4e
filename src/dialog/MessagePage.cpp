#include "dialog/MessagePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

// Item n is hour index n: the hour of the day, 24 being the end of the day.
const char* const HOUR_ITEMS[] = {
    " 0:00 AM", " 1:00 AM", " 2:00 AM", " 3:00 AM", " 4:00 AM", " 5:00 AM", " 6:00 AM",
    " 7:00 AM", " 8:00 AM", " 9:00 AM", "10:00 AM", "11:00 AM", "12:00 AM", " 1:00 PM",
    " 2:00 PM", " 3:00 PM", " 4:00 PM", " 5:00 PM", " 6:00 PM", " 7:00 PM", " 8:00 PM",
    " 9:00 PM", "10:00 PM", "11:00 PM", "12:00 PM",
};

// The list's selection, or `current` while nothing is selected.
int SelectedIndex(const QComboBox* list, int current) {
    return list->currentIndex() >= 0 ? list->currentIndex() : current;
}

}  // namespace

CMessagePage::CMessagePage(CSettings& settings, QWidget* parent) : CEditPage(parent), m_settings(settings) {
    auto checkBox = [this](const char* text, const char* name) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(name);
        return box;
    };
    auto hourList = [this](const char* name) {
        auto* list = new QComboBox(this);
        list->setObjectName(name);
        for (const char* item : HOUR_ITEMS) list->addItem(item);
        return list;
    };
    m_sendingPeriod = checkBox("Sending Period Limit", "sendingPeriod");
    m_startTime = hourList("startTime");
    m_endTime = hourList("endTime");
    m_dbLostWarning = checkBox("DB Connection Lost Warning", "dbLostWarning");
    m_dailyReport = checkBox("Send Daily Report", "dailyReport");
    m_reportTime = hourList("reportTime");
    m_batteryWarning = checkBox("Battery Low Warning", "batteryWarning");
    m_reportPhone = new QLineEdit(this);
    m_reportPhone->setObjectName("reportPhone");
    LimitBytes(m_reportPhone, "report_phone");
    m_autoStart = checkBox(" Start Service when OS starts", "autoStart");

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_sendingPeriod, 0, 0, 1, 2);
    grid->addWidget(new QLabel("Start Time", this), 1, 0);
    grid->addWidget(m_startTime, 1, 1);
    grid->addWidget(new QLabel("End Time", this), 2, 0);
    grid->addWidget(m_endTime, 2, 1);
    grid->addWidget(m_dbLostWarning, 3, 0, 1, 2);
    grid->addWidget(m_dailyReport, 4, 0, 1, 2);
    grid->addWidget(new QLabel("Report Time", this), 5, 0);
    grid->addWidget(m_reportTime, 5, 1);
    grid->addWidget(m_batteryWarning, 6, 0, 1, 2);
    grid->addWidget(new QLabel("Phone No.", this), 7, 0);
    grid->addWidget(m_reportPhone, 7, 1);
    grid->addWidget(m_autoStart, 8, 0, 1, 2);
    grid->setRowStretch(9, 1);
    grid->setColumnStretch(2, 1);

    for (QCheckBox* box : {m_dailyReport, m_sendingPeriod, m_dbLostWarning, m_batteryWarning})
        connect(box, &QCheckBox::toggled, this, [this] {
            if (m_bLoading) return;
            emit changed();
            UpdateEnabling();
        });
    connect(m_autoStart, &QCheckBox::toggled, this, [this] {
        if (!m_bLoading) emit changed();
    });
    for (QComboBox* list : {m_startTime, m_endTime, m_reportTime})
        connect(list, &QComboBox::currentIndexChanged, this, [this] {
            if (!m_bLoading) emit changed();
        });
    connect(m_reportPhone, &QLineEdit::textChanged, this, &CEditPage::changed);
}

void CMessagePage::LoadFromSettings() {
    m_bLogFile = m_settings.m_bLogFile;
    m_bAutoStart = m_settings.m_bAutoStart;
    m_bDailyReport = m_settings.m_bDailyReport;
    m_nReportTime = m_settings.m_nReportTime;
    m_strReportPhone = m_settings.m_strReportPhone;
    m_bSendingPeriod = m_settings.m_bSendingPeriod;
    m_nStartTime = m_settings.m_nStartTime;
    m_nEndTime = m_settings.m_nEndTime;
    m_bBatteryWarning = m_settings.m_bBatteryWarning;
    m_bDbLostWarning = m_settings.m_bDbLostWarning;
    m_bLoading = true;
    m_sendingPeriod->setChecked(m_bSendingPeriod != 0);
    m_startTime->setCurrentIndex(m_nStartTime);
    m_endTime->setCurrentIndex(m_nEndTime);
    m_dbLostWarning->setChecked(m_bDbLostWarning != 0);
    m_dailyReport->setChecked(m_bDailyReport != 0);
    m_reportTime->setCurrentIndex(m_nReportTime);
    m_batteryWarning->setChecked(m_bBatteryWarning != 0);
    SetLimitedText(m_reportPhone, m_strReportPhone);
    m_autoStart->setChecked(m_bAutoStart != 0);
    m_bLoading = false;
    UpdateEnabling();
}

void CMessagePage::ReadChecksAndLists() {
    m_bSendingPeriod = m_sendingPeriod->isChecked() ? 1 : 0;
    m_nStartTime = SelectedIndex(m_startTime, m_nStartTime);
    m_nEndTime = SelectedIndex(m_endTime, m_nEndTime);
    m_bDbLostWarning = m_dbLostWarning->isChecked() ? 1 : 0;
    m_bDailyReport = m_dailyReport->isChecked() ? 1 : 0;
    m_nReportTime = SelectedIndex(m_reportTime, m_nReportTime);
    m_bBatteryWarning = m_batteryWarning->isChecked() ? 1 : 0;
    m_bAutoStart = m_autoStart->isChecked() ? 1 : 0;
}

std::optional<FieldError> CMessagePage::ReadControls() {
    ReadChecksAndLists();
    m_strReportPhone = m_reportPhone->text().toStdString();
    return std::nullopt;
}

void CMessagePage::CommitToSettings() {
    m_settings.m_bLogFile = m_bLogFile;
    m_settings.m_bAutoStart = m_bAutoStart;
    m_settings.m_bDailyReport = m_bDailyReport;
    m_settings.m_nReportTime = m_nReportTime;
    m_settings.m_strReportPhone = m_strReportPhone;
    m_settings.m_bSendingPeriod = m_bSendingPeriod;
    m_settings.m_nStartTime = m_nStartTime;
    m_settings.m_nEndTime = m_nEndTime;
    m_settings.m_bBatteryWarning = m_bBatteryWarning;
    m_settings.m_bDbLostWarning = m_bDbLostWarning;
}

void CMessagePage::UpdateEnabling() {
    for (QWidget* control : {static_cast<QWidget*>(m_dailyReport), static_cast<QWidget*>(m_reportPhone),
                             static_cast<QWidget*>(m_reportTime), static_cast<QWidget*>(m_sendingPeriod)})
        control->setEnabled(true);
    ReadChecksAndLists();
    m_reportTime->setEnabled(m_bDailyReport != 0);
    m_startTime->setEnabled(m_bSendingPeriod != 0);
    m_endTime->setEnabled(m_bSendingPeriod != 0);
    m_reportPhone->setEnabled(m_bDailyReport || m_bBatteryWarning || m_bDbLostWarning);
}
