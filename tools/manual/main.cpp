// Writes the generated parts of the manual into a folder: settings.md, statements.md and
// status.md (see ManualTables.h). Fails when a status code has no advice.
#include "ManualTables.h"

#include "engine/StatusBoard.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool Write(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.close();
    if (!out) std::fprintf(stderr, "pellwick-manual: cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (int code = 1; *StatusText(code); ++code) {
        if (!StatusAdvice(code)) {
            std::fprintf(stderr, "pellwick-manual: status %d \"%s\" has no advice\n", code, StatusText(code));
            return 1;
        }
    }
    const std::string folder = argv[1];
    return Write(folder + "/settings.md", SettingsTable()) && Write(folder + "/statements.md", DefaultStatements()) &&
                   Write(folder + "/status.md", StatusTable())
               ? 0
               : 1;
}
