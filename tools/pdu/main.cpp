#include <iostream>

#include "PduTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return pdutool::Run(args, std::cin, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "pellwick-pdu: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "pellwick-pdu: unexpected failure\n";
    }
    return pdutool::EXIT_BAD_INPUT;
}
