// Writes the unit file the Debian package ships: the text -install writes for the
// packaged executable.
#include "shell/Names.h"
#include "shell/ServiceUnit.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s UNIT-FILE\n", argv[0]);
        return 2;
    }
    ServiceDefinition definition;
    definition.name = SERVICE_NAME;
    definition.displayName = DISPLAY_NAME;
    definition.executable = PACKAGED_EXECUTABLE;
    definition.workingDirectory = "/usr/bin";
    std::ofstream out(argv[1]);
    out << ServiceUnitText(definition);
    out.close();
    return out ? 0 : 1;
}
