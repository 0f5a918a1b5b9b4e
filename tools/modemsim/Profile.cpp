#include "Profile.h"

#include <array>
#include <cctype>

namespace modemsim {

namespace {

constexpr const char* kPlainCharsets = R"(("GSM","IRA","UCS2"))";
constexpr const char* kPlainCnmi = "(0-2),(0-3),(0,2),(0-2),(0,1)";

const std::array<Profile, 12> kProfiles = {{
    {"generic", "MODEMSIM", "MS-100", R"(("GSM","IRA","UCS2","HEX","PCCP437","8859-1"))",
     "(0-2),(0-3),(0,2),(0-2),(0,1)"},
    // A phone that offers UCS2 but whose driver rule picks 8859-1 for it.
    {"sonyericsson", "SONY ERICSSON", "T630", R"(("GSM","IRA","8859-1","UTF-8","UCS2"))",
     "(0-3),(0-3),(0,2),(0-2),(0,1)"},
    // A module that offers HEX and GSM but no UCS2.
    {"wavecom", "WAVECOM MODEM", "MULTIBAND  900E  1800", R"(("GSM","HEX"))",
     "(0-3),(0-3),(0-2),(0,1),(0,1)"},
    // A phone whose manufacturer query gives an empty answer and whose model query lists
    // its bands, the model as one item of the list.
    {"e365", "", R"(+CGMM: "GSM900","GSM1800","GSM1900","MODEL=E365")", R"(("GSM","IRA","UCS2"))",
     "(0-2),(0-3),(0,2),(0-2),(0,1)"},
    // A device whose indication settings have no fifth (buffer) group.
    {"cnmi4", "MODEMSIM", "MS-4", R"(("GSM","IRA","UCS2"))", "(0-2),(0-3),(0,2),(0-2)"},
    // Store behaviour seen in real devices: AT+CMGR header layouts, places numbered from 0,
    // no AT+CMGL, fewer stores.
    {"indexfirst", "MODEMSIM", "MS-IX", kPlainCharsets, kPlainCnmi, ReadLayout::IndexFirst},
    {"noalpha", "MODEMSIM", "MS-NA", kPlainCharsets, kPlainCnmi, ReadLayout::NoAlpha},
    {"lengthonly", "MODEMSIM", "MS-LO", kPlainCharsets, kPlainCnmi, ReadLayout::LengthOnly},
    {"zerobased", "MODEMSIM", "MS-Z", kPlainCharsets, kPlainCnmi, ReadLayout::Standard, 0, false},
    {"nolist", "MODEMSIM", "MS-NL", kPlainCharsets, kPlainCnmi, ReadLayout::Standard, 1, false},
    {"nome", "MODEMSIM", "MS-SIM", kPlainCharsets, kPlainCnmi, ReadLayout::Standard, 1, true, {"SM", "MT"}},
    {"nomt", "MODEMSIM", "MS-ME", kPlainCharsets, kPlainCnmi, ReadLayout::Standard, 1, true, {"SM", "ME"}},
}};

}  // namespace

const Profile* FindProfile(const std::string& name) {
    for (const auto& p : kProfiles) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    for (const auto& p : kProfiles)
        names.push_back(p.name);
    return names;
}

std::vector<std::vector<int>> ParseRanges(const std::string& ranges) {
    std::vector<std::vector<int>> groups;
    size_t i = 0;
    while (i < ranges.size()) {
        if (ranges[i] != '(') {
            ++i;
            continue;
        }
        const size_t close = ranges.find(')', i);
        if (close == std::string::npos)
            break;
        const std::string body = ranges.substr(i + 1, close - i - 1);
        std::vector<int> values;
        size_t start = 0;
        while (start <= body.size()) {
            size_t comma = body.find(',', start);
            if (comma == std::string::npos)
                comma = body.size();
            const std::string item = body.substr(start, comma - start);
            const size_t dash = item.find('-');
            try {
                if (dash == std::string::npos) {
                    values.push_back(std::stoi(item));
                } else {
                    const int lo = std::stoi(item.substr(0, dash));
                    const int hi = std::stoi(item.substr(dash + 1));
                    for (int v = lo; v <= hi; ++v)
                        values.push_back(v);
                }
            } catch (const std::exception&) {
                values.clear();
                break;
            }
            start = comma + 1;
        }
        groups.push_back(values);
        i = close + 1;
    }
    return groups;
}

}  // namespace modemsim
