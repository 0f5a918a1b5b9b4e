#include "http/Metrics.h"

#include <charconv>
#include <cmath>

void CPrometheusText::Family(const std::string& name, const std::string& type, const std::string& help) {
    m_strText += "# HELP " + name + " " + EscapeHelp(help) + "\n# TYPE " + name + " " + type + "\n";
}

void CPrometheusText::Sample(const std::string& name, const Labels& labels, double value) {
    m_strText += name;
    if (!labels.empty()) {
        m_strText += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i) m_strText += ',';
            m_strText += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + '"';
        }
        m_strText += '}';
    }
    m_strText += ' ' + FormatValue(value) + '\n';
}

void CPrometheusText::Histogram(const std::string& name, const std::string& help, const LatencyHistogram& histogram) {
    Family(name, "histogram", help);
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < LatencyHistogram::BOUNDS.size(); ++i) {
        cumulative += histogram.counts[i];
        Sample(name + "_bucket", {{"le", FormatValue(LatencyHistogram::BOUNDS[i])}}, static_cast<double>(cumulative));
    }
    Sample(name + "_bucket", {{"le", "+Inf"}}, static_cast<double>(histogram.count));
    Sample(name + "_sum", {}, histogram.sum);
    Sample(name + "_count", {}, static_cast<double>(histogram.count));
}

static std::string Escape(const std::string& text, bool quote) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quote)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

std::string CPrometheusText::EscapeLabelValue(const std::string& value) { return Escape(value, true); }

std::string CPrometheusText::EscapeHelp(const std::string& help) { return Escape(help, false); }

std::string CPrometheusText::FormatValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string RenderMetrics(const GatewaySnapshot& s) {
    CPrometheusText out;
    const struct {
        const char* name;
        std::uint64_t value;
        const char* help;
    } counters[] = {
        {"pellwick_messages_sent_total", s.sent, "Messages the modem accepted"},
        {"pellwick_messages_failed_total", s.failed, "Messages refused by the modem or before it"},
        {"pellwick_messages_unknown_total", s.unknown,
         "Messages handed to the modem without an answer (they may have gone out)"},
        {"pellwick_messages_received_total", s.received, "Messages received and stored in the inbox"},
        {"pellwick_messages_rejected_total", s.rejected, "Received messages the inbox refused"},
    };
    for (const auto& counter : counters) {
        out.Family(counter.name, "counter", counter.help);
        out.Sample(counter.name, {}, static_cast<double>(counter.value));
    }
    if (s.outboxPending >= 0) {
        out.Family("pellwick_outbox_pending", "gauge", "Outbox rows waiting to be sent");
        out.Sample("pellwick_outbox_pending", {}, static_cast<double>(s.outboxPending));
    }
    out.Family("pellwick_link_up", "gauge", "1 when the link works: the modem, the database, the SIM, the network");
    const std::pair<const char*, bool> links[] = {
        {"modem", s.modemUp}, {"database", s.databaseUp}, {"sim", s.simReady}, {"network", s.networkUp}};
    for (const auto& [link, up] : links) out.Sample("pellwick_link_up", {{"link", link}}, up ? 1 : 0);
    if (s.signalQuality >= 0 && s.signalQuality <= 31) {
        out.Family("pellwick_signal_quality", "gauge", "Received signal strength as the modem reports it, 0..31");
        out.Sample("pellwick_signal_quality", {}, s.signalQuality);
    }
    if (s.batteryPercent >= 0 && s.batteryPercent <= 100) {
        out.Family("pellwick_battery_percent", "gauge", "Battery charge of the modem in percent");
        out.Sample("pellwick_battery_percent", {}, s.batteryPercent);
    }
    if (s.webhookQueueDepth >= 0) {
        out.Family("pellwick_webhook_queue_depth", "gauge", "Webhook events waiting for delivery");
        out.Sample("pellwick_webhook_queue_depth", {}, static_cast<double>(s.webhookQueueDepth));
    }
    out.Histogram("pellwick_submission_seconds", "Seconds a message submission took", s.submission);
    return out.Text();
}
