#include "dialog/InformationPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int BAR_MIN = 1;
constexpr int BAR_MAX = 5;
constexpr int BATTERY_FULL = 100;

int ClampBar(long long position) { return static_cast<int>(std::clamp<long long>(position, BAR_MIN, BAR_MAX)); }

}  // namespace

int BatteryBar(int batteryPercent) { return ClampBar(batteryPercent / 20); }

// Widened so that no reading, however wrong, overflows.
int SignalBar(int signalLevel) { return ClampBar((static_cast<long long>(signalLevel) + 1) * 6 / 32); }

CInformationPage::CInformationPage(const CSettings& settings, InformationSources sources, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_sources(std::move(sources)) {
    auto value = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    auto bar = [this](const char* name) {
        auto* progress = new QProgressBar(this);
        progress->setObjectName(name);
        progress->setRange(BAR_MIN, BAR_MAX);
        progress->setValue(BAR_MIN);
        progress->setTextVisible(false);
        return progress;
    };
    m_brand = value("brand");
    m_model = value("model");
    m_imei = value("imei");
    m_network = value("network");
    m_batteryLevel = bar("batteryLevel");
    m_signalLevel = bar("signalLevel");
    m_sent = value("sent");
    m_unsent = value("unsent");
    m_received = value("received");
    m_failed = value("failed");
    m_serviceStatus = value("serviceStatus");

    auto* grid = new QGridLayout(this);
    int row = 0;
    for (auto [label, field] : {std::pair<const char*, QWidget*>{"Brand", m_brand},
                                {"Model", m_model},
                                {"IMEI", m_imei},
                                {"Network", m_network},
                                {"Battery Level", m_batteryLevel},
                                {"Signal Level", m_signalLevel},
                                {"Sent", m_sent},
                                {"Unsent", m_unsent},
                                {"Received", m_received},
                                {"Failed", m_failed},
                                {"Service Status", m_serviceStatus}}) {
        grid->addWidget(new QLabel(label, this), row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);

    // Runs for the life of the page, also while the window is hidden: the battery
    // store-back feeds the battery warning.
    m_timer = new QTimer(this);
    m_timer->setInterval(REFRESH_MS);
    connect(m_timer, &QTimer::timeout, this, &CInformationPage::Refresh);
    m_timer->start();
}

void CInformationPage::Refresh() {
    DeviceInfo device = m_sources.device ? m_sources.device() : DeviceInfo{};
    if (device.battery < 0 || device.battery > BATTERY_FULL) {
        device.battery = BATTERY_FULL;
        if (m_sources.storeBattery) m_sources.storeBattery(BATTERY_FULL);
    }
    m_batteryLevel->setValue(BatteryBar(device.battery));
    m_signalLevel->setValue(SignalBar(device.signal));
    m_brand->setText(QString::fromStdString(device.brand));
    m_model->setText(QString::fromStdString(device.model));
    m_imei->setText(QString::fromStdString(device.imei));
    m_network->setText(QString::fromStdString(device.network));
    m_sent->setText(QString::number(m_settings.m_nSent));
    m_unsent->setText(QString::number(m_settings.m_nUnsent));
    m_received->setText(QString::number(m_settings.m_nReceived));
    m_failed->setText(QString::number(m_settings.m_nFailed));
    m_serviceStatus->setText(QString::fromStdString(m_sources.statusText ? m_sources.statusText() : std::string()));
}
