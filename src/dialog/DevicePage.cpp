#include "dialog/DevicePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

CDevicePage::CDevicePage(CSettings& settings, RunState& run, std::function<void(int, int)> setDriverRetry,
                         QWidget* parent)
    : CEditPage(parent), m_settings(settings), m_run(run), m_setDriverRetry(std::move(setDriverRetry)) {
    m_port = new QComboBox(this);
    m_port->setObjectName("port");
    m_port->addItem("Infrared");
    for (int n = 1; n <= 16; ++n) m_port->addItem(QStringLiteral("COM%1").arg(n));

    m_baudRate = new QComboBox(this);
    m_baudRate->setObjectName("baudRate");
    m_baudRate->addItems({"9600", "19200", "38400", "57600", "115200"});

    m_retryInterval = new CNumberField(3, 32767, this);
    m_retryInterval->setObjectName("retryInterval");
    m_retryCount = new CNumberField(0, 32767, this);
    m_retryCount->setObjectName("retryCount");

    m_smsc = new QLineEdit(this);
    m_smsc->setObjectName("smsc");
    LimitBytes(m_smsc, "smsc");
    m_pin = new QLineEdit(this);
    m_pin->setObjectName("pin");
    m_pin->setEchoMode(QLineEdit::Password);
    LimitBytes(m_pin, "pin");

    m_longSms = new QCheckBox("Long SMS Mode", this);
    m_longSms->setObjectName("longSms");

    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addRow = [&](const char* label, QWidget* field, const char* note = nullptr) {
        grid->addWidget(new QLabel(label, this), row, 0);
        grid->addWidget(field, row, 1);
        if (note) grid->addWidget(new QLabel(note, this), row, 2);
        ++row;
    };
    addRow("Port Number", m_port);
    addRow("COM Baudrate", m_baudRate);
    addRow("SMS Retry Interval(s)", m_retryInterval);
    addRow("SMS Retry Count", m_retryCount);
    addRow("SMS Center Number", m_smsc);
    addRow("PIN Code", m_pin, "(if required)");
    grid->addWidget(m_longSms, row++, 1);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(3, 1);

    connect(m_port, &QComboBox::currentIndexChanged, this, [this] {
        if (m_bLoading) return;
        MarkChanged();
        UpdateEnabling();
    });
    connect(m_baudRate, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_bLoading) MarkChanged();
    });
    // Text fields count every change of their text, also the one made by loading.
    connect(m_smsc, &QLineEdit::textChanged, this, &CDevicePage::MarkChanged);
    connect(m_pin, &QLineEdit::textChanged, this, &CDevicePage::MarkChanged);
    connect(m_retryInterval, &CNumberField::textChanged, this, &CEditPage::changed);
    connect(m_retryCount, &CNumberField::textChanged, this, &CEditPage::changed);
    connect(m_longSms, &QCheckBox::toggled, this, [this] {
        if (!m_bLoading) emit changed();
    });
}

void CDevicePage::MarkChanged() {
    m_settings.m_bDeviceChanged = 1;
    emit changed();
}

void CDevicePage::LoadFromSettings() {
    m_settings.m_bDeviceChanged = 0;
    m_nPort = m_settings.m_nPort;
    m_nBaudRate = m_settings.m_nBaudRate;
    m_nRetryInterval = m_settings.m_nRetryInterval;
    m_nRetryCount = m_settings.m_nRetryCount;
    m_strSmsc = m_settings.m_strSmsc;
    m_strPin = m_settings.m_strPin;
    m_bLongSms = m_settings.m_bLongSms;
    m_bLoading = true;
    PutControls();
    m_bLoading = false;
    // A showing after "Cancel" must not keep the enabling of an abandoned port choice.
    m_baudRate->setEnabled(m_nPort != 0);
}

void CDevicePage::PutControls() {
    m_port->setCurrentIndex(m_nPort);
    m_baudRate->setCurrentIndex(m_nBaudRate);
    m_retryInterval->SetValue(m_nRetryInterval);
    m_retryCount->SetValue(m_nRetryCount);
    SetLimitedText(m_smsc, m_strSmsc);
    SetLimitedText(m_pin, m_strPin);
    m_longSms->setChecked(m_bLongSms != 0);
}

std::optional<FieldError> CDevicePage::ReadControls() {
    // A list without a selection (a stored index past its items) keeps the stored value.
    if (m_port->currentIndex() >= 0) m_nPort = m_port->currentIndex();
    if (m_baudRate->currentIndex() >= 0) m_nBaudRate = m_baudRate->currentIndex();
    int interval = 0, count = 0;
    if (auto error = CheckSetting(m_retryInterval, m_retryInterval->Text(), "retry_interval", interval)) return error;
    if (auto error = CheckSetting(m_retryCount, m_retryCount->Text(), "retry_count", count)) return error;
    m_nRetryInterval = interval;
    m_nRetryCount = count;
    m_strSmsc = m_smsc->text().toStdString();
    m_strPin = m_pin->text().toStdString();
    m_bLongSms = m_longSms->isChecked() ? 1 : 0;
    return std::nullopt;
}

void CDevicePage::CommitToSettings() {
    m_settings.m_bLongSms = m_bLongSms;
    m_settings.m_nBaudRate = m_nBaudRate;
    m_settings.m_nPort = m_nPort;
    m_settings.m_nRetryCount = m_nRetryCount;
    m_settings.m_nRetryInterval = m_nRetryInterval;
    m_settings.m_strSmsc = m_strSmsc;
    m_settings.m_strPin = m_strPin;
    if (m_setDriverRetry) m_setDriverRetry(m_nRetryInterval, m_nRetryCount + 1);
    if (m_settings.m_bDeviceChanged) {
        // The supervision reopens the device with the new values, and a paused server resumes.
        m_run.m_bDeviceLinked = 0;
        m_run.m_bRunning = 1;
    }
}

void CDevicePage::UpdateEnabling() {
    if (m_port->currentIndex() >= 0) m_nPort = m_port->currentIndex();
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) control->setEnabled(true);
    m_baudRate->setEnabled(m_nPort != 0);
}
