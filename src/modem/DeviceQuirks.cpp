#include "modem/DeviceQuirks.h"

namespace quirks {

namespace {
bool Contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }
}  // namespace

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
