// The pure parts of the HTTP interface, one table each.
#include "http/HttpConfig.h"
#include "http/Metrics.h"
#include "http/StatusPage.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ListenAddress, ParsesAddressesAndRefusesTheRest) {
    struct Case {
        std::string text, host;  // host "" when refused
        bool ipv6 = false;
        unsigned port = 0;
    } cases[] = {
        {"127.0.0.1:8470", "127.0.0.1", false, 8470},
        {"localhost:8470", "127.0.0.1", false, 8470},
        {"[::1]:8470", "::1", true, 8470},
        {"[::]:65535", "::", true, 65535},
        {"127.0.0.1:", ""},
        {"127.0.0.1:65536", ""},
        {"127.0.0.1:80x", ""},
        {"example.org:80", ""},
        {"::1:8470", ""},
        {"[::1]8470", ""},
        {"[127.0.0.1]:80", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        std::optional<ListenAddress> address = ParseListenAddress(c.text, error);
        ASSERT_EQ(address.has_value(), !c.host.empty()) << error;
        if (address) {
            EXPECT_EQ(address->host, c.host);
            EXPECT_EQ(address->ipv6, c.ipv6);
            EXPECT_EQ(address->port, c.port);
        } else {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
        }
    }
}

TEST(StatusPage, MaskNumberHidesTheMiddle) {
    const std::pair<std::string, std::string> cases[] = {
        {"+4917112345567", "+49171****567"},
        {"017112345567", "01711****567"},
        {"12345", "1****5"},
        {"Vodafone", "Vod****ne"},
        {"123", "****"},
        {"", "****"},
    };
    for (const auto& [number, masked] : cases) EXPECT_EQ(MaskNumber(number), masked) << number;
}

TEST(Metrics, EscapesLabelValuesAndHelp) {
    CPrometheusText text;
    text.Family("x", "gauge", "back\\slash\nline \"quoted\"");
    text.Sample("x", {{"a", "q\"b\\n\nz"}, {"b", ""}}, 0.25);
    text.Sample("x", {}, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(text.Text(),
              "# HELP x back\\\\slash\\nline \"quoted\"\n"
              "# TYPE x gauge\n"
              "x{a=\"q\\\"b\\\\n\\nz\",b=\"\"} 0.25\n"
              "x -Inf\n");
}

}  // namespace
