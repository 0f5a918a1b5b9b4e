#pragma once
// The names the process shows and registers under.
#include <string>

constexpr const char* PROGRAM_NAME = "Orvane Pellwick";
constexpr const char* SERVICE_NAME = "Orvane Pellwick";
constexpr const char* DISPLAY_NAME = "Orvane Pellwick";

constexpr const char* UNIT_NAME = "orvane-pellwick.service";
constexpr const char* UNIT_FOLDER = "/etc/systemd/system";

// A named instance (-instance NAME) runs as orvane-pellwick@NAME.service, an instance of
// the template unit orvane-pellwick@.service; without a name, the unit above.
inline std::string UnitNameFor(const std::string& instance) {
    return instance.empty() ? UNIT_NAME : "orvane-pellwick@" + instance + ".service";
}
