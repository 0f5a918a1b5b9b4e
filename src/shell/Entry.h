#pragma once
// The process entry: working folder, file paths, the one command-line switch.
#include <cstdio>
#include <string>

enum class CommandSwitch { Install, Remove, Start, Stop, Win9x, Debug, Usage };

// Reads only the first argument: '-' or '/' followed by a switch name in any case.
// Anything else (no argument, no prefix, an unknown name) is Usage.
CommandSwitch ParseCommandLine(int argc, const char* const* argv);

// The five usage lines, with the program name for %s.
void PrintUsage(std::FILE* out, const std::string& programName);

// Path of the running executable ("" when it cannot be read), and its folder.
std::string ExecutablePath();
std::string FolderOf(const std::string& path);

// The whole process: returns the exit code.
int PellwickMain(int argc, char** argv);
