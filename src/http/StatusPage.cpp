#include "http/StatusPage.h"

#include <algorithm>

namespace {

constexpr std::size_t SHOWN_TEXT_CHARS = 60;  // a longer message text is cut on the page

// The first count UTF-8 characters of text, with an ellipsis when cut.
std::string Shorten(const std::string& text, std::size_t count) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == count)
            return text.substr(0, i) + "\u2026";
    }
    return text;
}

std::string Row(const std::string& label, const std::string& value, const char* cls = "") {
    return "<tr><th>" + HtmlEscape(label) + "</th><td class=\"" + cls + "\">" + HtmlEscape(value) + "</td></tr>\n";
}

std::string Known(long long value) { return value >= 0 ? std::to_string(value) : "-"; }

}  // namespace

std::string MaskNumber(const std::string& number) {
    std::size_t n = number.size();
    std::size_t head = std::min<std::size_t>(6, n / 2 > 0 ? n / 2 - 1 : 0);
    std::size_t tail = std::min<std::size_t>(3, n / 4);
    return number.substr(0, head) + "****" + number.substr(n - tail);
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string RenderStatusPage(const GatewaySnapshot& s) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"refresh\" content=\"5\">\n"  // reloads itself every 5 s
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Pellwick</title>\n<style>\n"
        "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fafafa}\n"
        "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.5em}\n"
        "table{border-collapse:collapse;background:#fff}th,td{padding:.25em .8em;border:1px solid #ddd;"
        "text-align:left}\n.up{color:#070;font-weight:bold}.down{color:#b00;font-weight:bold}\n"
        "</style></head><body>\n<h1>Pellwick</h1>\n<h2>Links</h2>\n<table>\n";
    const std::pair<const char*, bool> links[] = {
        {"Modem", s.modemUp}, {"Database", s.databaseUp}, {"SIM", s.simReady}, {"Network", s.networkUp}};
    for (const auto& [name, up] : links) html += Row(name, up ? "up" : "down", up ? "up" : "down");
    html +=
        Row("Signal (0..31)", s.signalQuality >= 0 && s.signalQuality <= 31 ? std::to_string(s.signalQuality) : "-");
    html += Row("Battery",
                s.batteryPercent >= 0 && s.batteryPercent <= 100 ? std::to_string(s.batteryPercent) + " %" : "-");
    html += "</table>\n<h2>Messages</h2>\n<table>\n";
    html += Row("Sent", std::to_string(s.sent)) + Row("Failed", std::to_string(s.failed)) +
            Row("Unknown", std::to_string(s.unknown)) + Row("Received", std::to_string(s.received)) +
            Row("Rejected", std::to_string(s.rejected)) + Row("Outbox waiting", Known(s.outboxPending)) +
            Row("Webhook queue", s.webhookQueueDepth >= 0 ? std::to_string(s.webhookQueueDepth) : "off");
    html += "</table>\n<h2>Last errors</h2>\n";
    if (s.lastErrors.empty())
        html += "<p>None.</p>\n";
    else {
        html += "<ul>\n";
        for (const std::string& error : s.lastErrors) html += "<li>" + HtmlEscape(error) + "</li>\n";
        html += "</ul>\n";
    }
    html += "<h2>Recent messages</h2>\n";
    if (s.recentMessages.empty())
        html += "<p>None.</p>\n";
    else {
        html += "<table>\n<tr><th>Time</th><th></th><th>Number</th><th>Text</th><th>Result</th></tr>\n";
        for (const RecentMessage& m : s.recentMessages) {
            html += "<tr><td>" + HtmlEscape(m.time) + "</td><td>" + (m.outgoing ? "out" : "in") + "</td><td>" +
                    HtmlEscape(MaskNumber(m.phone)) + "</td><td>" + HtmlEscape(Shorten(m.text, SHOWN_TEXT_CHARS)) +
                    "</td><td>" + HtmlEscape(m.result) + "</td></tr>\n";
        }
        html += "</table>\n";
    }
    return html + "</body></html>\n";
}
