#pragma once
// Page "Device": the link to the modem and the driver's retry values.
#include "config/Settings.h"
#include "dialog/EditPage.h"
#include "engine/RunState.h"

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

class CDevicePage : public CEditPage {
    Q_OBJECT
public:
    // `setDriverRetry` gets the retry interval in seconds and the attempt count.
    CDevicePage(CSettings& settings, RunState& run, std::function<void(int, int)> setDriverRetry,
                QWidget* parent = nullptr);

    void LoadFromSettings() override;
    std::optional<FieldError> ReadControls() override;
    void CommitToSettings() override;
    // Enables "COM Baudrate" only while a COM port is selected.
    void UpdateEnabling();

    // Working copies.
    int m_nPort = 0;
    int m_nBaudRate = 0;
    int m_nRetryInterval = 0;
    int m_nRetryCount = 0;
    std::string m_strSmsc;
    std::string m_strPin;
    int m_bLongSms = 0;

private:
    void MarkChanged();
    void PutControls();

    CSettings& m_settings;
    RunState& m_run;
    std::function<void(int, int)> m_setDriverRetry;

    QComboBox* m_port;
    QComboBox* m_baudRate;
    CNumberField* m_retryInterval;
    CNumberField* m_retryCount;
    QLineEdit* m_smsc;
    QLineEdit* m_pin;
    QCheckBox* m_longSms;
};
