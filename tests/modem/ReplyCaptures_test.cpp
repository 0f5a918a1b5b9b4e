// Recorded modem replies, one file each in replies/: how the reply splits into fields and,
// where the file says, what the driver operation for that command makes of it. A reply from a
// bug report becomes a test by adding one file.
#include "ScriptedTransport.h"
#include "modem/ReplyParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

const char* const CAPTURES[] = {
#include "ReplyCaptures.inc"
};

struct Capture {
    std::string name;
    std::map<std::string, std::string> keys;
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

Capture Load(const std::string& name) {
    Capture capture{name, {}};
    std::ifstream in(std::string(PW_REPLY_DIR) + "/" + name + ".reply");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        capture.keys[line.substr(0, colon)] = value;
    }
    return capture;
}

std::vector<std::string> SplitBars(const std::string& text) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, '|')) parts.push_back(part);
    if (!text.empty() && text.back() == '|') parts.push_back("");
    return parts;
}

// The driver operation that sends the capture's command, and its result as text.
std::string RunOperation(const std::string& command, const std::string& reply) {
    ScriptedMobile rig;
    rig.device->m_answers[command + "\r"] = reply;
    CMobile& m = *rig.mobile;
    if (command == "AT+CBC") return std::to_string(m.GetBatteryLevel());
    if (command == "AT+CSQ") return std::to_string(m.GetSignalQuality());
    if (command == "AT+CGSN") return m.GetImei();
    if (command == "AT+CGMI") return m.GetManufacturer();
    if (command == "AT+CGMM") return m.GetModel();
    if (command == "AT+CPMS?") {
        const int used = m.GetUsedCount();
        const int total = m.GetTotalCount();
        return m.m_strStorage + " " + std::to_string(used) + "/" + std::to_string(total);
    }
    if (command.rfind("AT+CMGR=", 0) == 0) {
        // result|kind|phone|text of the last-read slot, or result|undecodable.
        const int result = m.ReadStoredMessage(std::stoi(command.substr(8)));
        const auto& r = m.m_lastRead;
        if (!r.bDecoded) return std::to_string(result) + "|undecodable";
        return std::to_string(result) + "|" + std::to_string(r.nKind) + "|" + r.strPhone + "|" + r.strText;
    }
    if (command == "AT+CMGL=4") {
        std::vector<int> indexes;
        std::string listed = std::to_string(m.ListStoredIndexes(indexes)) + "|";
        for (size_t i = 0; i < indexes.size(); ++i) listed += (i ? "," : "") + std::to_string(indexes[i]);
        return listed;
    }
    if (command == "AT+CPMS=?") {
        m.QueryStoreNames();
        std::string names;
        for (const std::string& name : m.m_storeNames) names += (names.empty() ? "" : " ") + name;
        return names;
    }
    if (command == "AT+CNMI=?") {
        std::string chosen = CMobile::ChooseCnmiCommand(reply);
        chosen.pop_back();  // the CR
        return chosen;
    }
    return "no operation for " + command;
}

std::vector<std::string> AllCaptures() { return {std::begin(CAPTURES), std::end(CAPTURES)}; }

std::vector<std::string> CapturesWithOperation() {
    std::vector<std::string> names;
    for (const std::string& name : AllCaptures())
        if (Load(name).keys.count("value")) names.push_back(name);
    return names;
}

class ReplyCapture : public ::testing::TestWithParam<std::string> {};
class CapturedOperation : public ::testing::TestWithParam<std::string> {};

TEST_P(ReplyCapture, Fields) {
    const Capture c = Load(GetParam());
    ASSERT_TRUE(c.keys.count("reply")) << "capture without a reply: " << c.name;
    const std::string reply = Unescape(c.keys.at("reply"));
    ReplyFields fields;
    int count = 0;
    EXPECT_EQ(std::stoi(c.keys.at("result")), SplitReply(reply, c.keys.at("prefix"), fields, count));
    const std::vector<std::string> expected = SplitBars(c.keys.at("fields"));
    ASSERT_EQ(static_cast<int>(expected.size()), count);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], fields[i]) << "field " << i;
}

TEST_P(CapturedOperation, Result) {
    const Capture c = Load(GetParam());
    EXPECT_EQ(c.keys.at("value"), RunOperation(c.keys.at("command"), Unescape(c.keys.at("reply"))));
}

INSTANTIATE_TEST_SUITE_P(Captures, ReplyCapture, ::testing::ValuesIn(AllCaptures()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Captures, CapturedOperation, ::testing::ValuesIn(CapturesWithOperation()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
