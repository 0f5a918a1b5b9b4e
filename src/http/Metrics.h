#pragma once
// Metrics in the Prometheus text exposition format 0.0.4: a small writer for counters,
// gauges with labels and histograms, and the gateway's metrics from a snapshot.
#include "http/HttpBackend.h"

#include <string>
#include <utility>
#include <vector>

class CPrometheusText {
public:
    using Labels = std::vector<std::pair<std::string, std::string>>;

    // Starts a metric family: its # HELP and # TYPE lines ("counter", "gauge", "histogram").
    void Family(const std::string& name, const std::string& type, const std::string& help);
    // One sample line of the family started last (the name may carry a suffix, e.g. _bucket).
    void Sample(const std::string& name, const Labels& labels, double value);
    void Histogram(const std::string& name, const std::string& help, const LatencyHistogram& histogram);

    const std::string& Text() const { return m_strText; }

    // The escapes of the format: a label value escapes \, " and line feeds; help text \ and line feeds.
    static std::string EscapeLabelValue(const std::string& value);
    static std::string EscapeHelp(const std::string& help);
    // The shortest text that reads back as the same value; "+Inf", "-Inf", "NaN".
    static std::string FormatValue(double value);

private:
    std::string m_strText;
};

// The gateway's metrics, all named pellwick_*.
std::string RenderMetrics(const GatewaySnapshot& snapshot);
