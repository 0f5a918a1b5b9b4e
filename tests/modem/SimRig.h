#pragma once
// The driver on the real serial layer, talking over a pty to the modem simulator.
#include "link/ComPort.h"
#include "link/Connection.h"
#include "link/IrComm.h"
#include "link/LogFile.h"
#include "modem/Mobile.h"
#include "support/ModemSim.h"
#include "support/TempDir.h"

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

struct SimRig {
    TempDir dir;
    ModemSim sim;
    std::unique_ptr<CMobile> mobile;

    explicit SimRig(const std::string& profile = "generic", const std::vector<std::string>& args = {})
        : sim(dir.path(), profile, args) {
        theLog.SetFileName(dir.file("Pellwick.log"));
        theLog.SetEnabled(1);
        mobile = std::make_unique<CMobile>(
            std::make_unique<CConnection>(std::make_unique<CComPort>(SystemClock(), dir.path()),
                                          std::make_unique<CIrComm>()));
        mobile->m_nConnectionMode = 1;
        mobile->m_nPort = 1;
        mobile->m_nBaudRate = 115200;
    }
    ~SimRig() {
        if (mobile) mobile->Disconnect();
        theLog.SetEnabled(0);
    }

    std::string Log() const {
        std::ifstream in(dir.file("Pellwick.log"), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // The command lines the simulator heard, in order.
    std::vector<std::string> Heard() {
        std::vector<std::string> commands;
        for (const std::string& record : sim.Records()) {
            if (record.find("\"kind\":\"command\"") == std::string::npos) continue;
            const size_t at = record.find("\"text\":\"");
            if (at == std::string::npos) continue;
            std::string text;
            for (size_t i = at + 8; i < record.size() && record[i] != '"'; ++i) {
                if (record[i] == '\\' && i + 1 < record.size()) {
                    ++i;
                    if (record[i] == 'u' && i + 4 < record.size()) {
                        text += static_cast<char>(std::stoi(record.substr(i + 1, 4), nullptr, 16));
                        i += 4;
                        continue;
                    }
                }
                text += record[i];
            }
            commands.push_back(text);
        }
        return commands;
    }
    // A value of the simulator's STATE answer.
    std::string State(const std::string& key) {
        for (const std::string& line : ModemSim::Lines(sim.Control("STATE")))
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return "?";
    }
};
