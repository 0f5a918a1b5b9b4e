#pragma once
// The device identities the simulator can take on: what the device says about itself (its
// maker and model, the character sets and the new-message indication settings it offers) and
// how its message stores behave (which stores exist, how places are numbered, the layout of
// the AT+CMGR header, whether AT+CMGL works).
#include <string>
#include <vector>

namespace modemsim {

// Header of an AT+CMGR answer in PDU mode.
enum class ReadLayout {
    Standard,    // <stat>,,<length>
    IndexFirst,  // <index>,<stat>,,<length>
    NoAlpha,     // <stat>,<length>
    LengthOnly,  // <length>
};

struct Profile {
    std::string name;
    std::string manufacturer;  // empty: AT+CGMI answers OK alone
    std::string model;
    std::string charsets;      // AT+CSCS=? list
    std::string cnmiRanges;    // AT+CNMI=? groups
    ReadLayout readLayout = ReadLayout::Standard;
    int firstIndex = 1;        // number of a store's first place
    bool listing = true;       // AT+CMGL answers; otherwise +CMS ERROR: 303
    std::vector<std::string> stores = {"SM", "ME", "MT"};
};

// Nothing (a null pointer) for an unknown name.
const Profile* FindProfile(const std::string& name);
std::vector<std::string> ProfileNames();

// Allowed values of each group of a "(0-2),(0,1),..." range list; a group that cannot
// be read is empty.
std::vector<std::vector<int>> ParseRanges(const std::string& ranges);

}  // namespace modemsim
