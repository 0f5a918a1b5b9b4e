// pellwick-pdu: decode and encode SMS PDUs from the command line, for debugging modems.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace pdutool {

constexpr int EXIT_BAD_INPUT = 2;

// Runs the tool on its arguments (without the program name), reading PDUs from in when the
// command asks; writes results to out and one-line errors to err. Returns the exit code: 0, or
// EXIT_BAD_INPUT.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace pdutool
