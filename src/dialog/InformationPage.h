#pragma once
// Page "Information": the device's identity, network registration, battery and signal, the
// message counters and the service status, redisplayed from their sources five times a second.
#include "config/Settings.h"
#include "engine/Gateway.h"

#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;

// Bar positions (1..5) of a battery level in percent and a 0..31 signal reading.
int BatteryBar(int batteryPercent);
int SignalBar(int signalLevel);

struct InformationSources {
    std::function<DeviceInfo()> device;
    std::function<void(int level)> storeBattery;
    std::function<std::string()> statusText;
};

class CInformationPage : public QWidget {
    Q_OBJECT
public:
    CInformationPage(const CSettings& settings, InformationSources sources, QWidget* parent = nullptr);

    // One refresh: a battery level outside 0..100 is stored back as 100, then every
    // field is redisplayed.
    void Refresh();

    static constexpr int REFRESH_MS = 200;

private:
    const CSettings& m_settings;
    InformationSources m_sources;
    QTimer* m_timer;

    QLabel* m_brand;
    QLabel* m_model;
    QLabel* m_imei;
    QLabel* m_network;
    QProgressBar* m_batteryLevel;
    QProgressBar* m_signalLevel;
    QLabel* m_sent;
    QLabel* m_unsent;
    QLabel* m_received;
    QLabel* m_failed;
    QLabel* m_serviceStatus;
};
