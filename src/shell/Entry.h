#pragma once
// The process entry: working folder, file paths, the command line.
#include <cstdio>
#include <string>
#include <vector>

enum class CommandSwitch {
    Install, Remove, Start, Stop, Win9x, Debug, Service, Help, Version, Show, Set, Status, Send, Unknown
};

struct CommandLine {
    CommandSwitch command = CommandSwitch::Service;  // no switch: the service body
    std::string home;                                // -home DIR
    std::string instance;                            // -instance NAME
    std::vector<std::string> assignments;            // -set NAME=VALUE ...
    std::vector<std::string> message;                // -send NUMBER TEXT
    std::string error;                               // Unknown: what was wrong
};

// Reads `-home DIR` and `-instance NAME` (any number of times, the last one counts) and
// then one switch: '-' or '/' followed by a switch name in any case, or --help /
// --version. Arguments after the switch are ignored, except `-instance NAME`, the
// assignments of -set and the number and text of -send.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// An instance name: letters, digits, '.', '-' and '_', at most 64 of them, starting with
// neither '.' nor '-'. It names a folder and a systemd unit, and is read as an option.
bool IsInstanceName(const std::string& name);

// The usage, one line per switch, with the command as typed for `command`.
void PrintUsage(std::FILE* out, const std::string& command);

// Where settings, PIN, journal, spool and log live: `home` (-home) when given, else
// $PELLWICK_HOME, else the first folder of $STATE_DIRECTORY (set by systemd), else
// `executableFolder` (PellwickMain passes the service's state folder for a program
// installed in a .../usr/bin folder). A relative folder is taken from the current directory. An
// instance keeps them in a folder of its own, the instance name inside that folder,
// except in $STATE_DIRECTORY, which its systemd unit already makes the instance's own.
std::string ChooseStateFolder(const std::string& home, const std::string& executableFolder,
                              const std::string& instance = {});

// Path of the running executable ("" when it cannot be read), and its folder.
std::string ExecutablePath();
std::string FolderOf(const std::string& path);

// The whole process: returns the exit code.
int PellwickMain(int argc, char** argv);
