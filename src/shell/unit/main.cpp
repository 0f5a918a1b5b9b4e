// Writes the unit files the Debian package ships: the texts -install writes for the
// packaged executable, the plain unit and the template of the named instances.
#include "shell/Names.h"
#include "shell/ServiceUnit.h"

#include <cstdio>
#include <fstream>

namespace {

bool Write(const char* path, const std::string& instance) {
    ServiceDefinition definition;
    definition.name = SERVICE_NAME;
    definition.displayName = DISPLAY_NAME;
    definition.executable = PACKAGED_EXECUTABLE;
    definition.workingDirectory = "/usr/bin";
    definition.instance = instance;
    std::ofstream out(path);
    out << ServiceUnitText(definition);
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s UNIT-FILE TEMPLATE-FILE\n", argv[0]);
        return 2;
    }
    // The template's text is the same for every instance; any name selects it.
    return Write(argv[1], "") && Write(argv[2], "%i") ? 0 : 1;
}
