#pragma once
// The line-based control channel: one request line in, data lines and a final "OK" or
// "ERR <reason>" out.
#include <string>

#include "Modem.h"

namespace modemsim {

struct ControlResult {
    std::string reply;  // every line ends in '\n'
    bool quit = false;
};

ControlResult HandleControl(Modem& modem, const std::string& line);

}  // namespace modemsim
