#pragma once
// The device identities the simulator can take on. Each profile differs only in what the
// device says about itself: its maker and model, the character sets and the new-message
// indication settings it offers.
#include <string>
#include <vector>

namespace modemsim {

struct Profile {
    std::string name;
    std::string manufacturer;  // empty: AT+CGMI answers OK alone
    std::string model;
    std::string charsets;      // AT+CSCS=? list
    std::string cnmiRanges;    // AT+CNMI=? groups
};

// Nothing (a null pointer) for an unknown name.
const Profile* FindProfile(const std::string& name);
std::vector<std::string> ProfileNames();

// Allowed values of each group of a "(0-2),(0,1),..." range list; a group that cannot
// be read is empty.
std::vector<std::vector<int>> ParseRanges(const std::string& ranges);

}  // namespace modemsim
