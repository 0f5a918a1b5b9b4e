#include "modem/DeviceQuirks.h"

#include <cctype>

namespace quirks {

namespace {
bool Contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

// "+CGMM: x" -> "x": the command name some devices repeat before the value.
std::string WithoutEcho(const std::string& value) {
    size_t i = 1;
    if (value.empty() || value[0] != '+') return value;
    while (i < value.size() && std::isupper(static_cast<unsigned char>(value[i]))) ++i;
    if (i == 1 || i >= value.size() || value[i] != ':') return value;
    const size_t start = value.find_first_not_of(' ', i + 1);
    return start == std::string::npos ? std::string() : value.substr(start);
}
}  // namespace

std::string IdentityValue(const ReplyFields& fields, int count) {
    for (int i = 0; i < count && i < MAX_REPLY_FIELDS; ++i) {
        const std::string item = WithoutEcho(fields[static_cast<size_t>(i)]);
        if (item.rfind("MODEL=", 0) == 0) return item.substr(6);
    }
    return count > 0 ? WithoutEcho(fields[0]) : std::string();
}

void FillMissingManufacturer(std::string& manufacturer, const std::string& model) {
    if (manufacturer.empty() && model == "E365") manufacturer = "MOTOROLA";
}

std::string ChooseCharacterSet(const std::string& manufacturer, const std::string& cscsReply) {
    if (Contains(manufacturer, "SONY ERICSSON")) return "8859-1";
    if (Contains(cscsReply, "UCS2")) return "UCS2";
    if (Contains(cscsReply, "HEX") && Contains(manufacturer, "WAVECOM")) return "HEX";
    if (Contains(cscsReply, "PCCP437")) return "PCCP437";
    if (Contains(cscsReply, "8859-1")) return "8859-1";
    return "GSM";
}

bool WantsPrefixedUcs2(const std::string& manufacturer) { return Contains(manufacturer, "WAVECOM"); }

}  // namespace quirks
