#pragma once
// `-show` and `-set NAME=VALUE ...`: the settings of the state folder read and changed
// from a shell, with the checks of the configuration window. No window is involved.
#include <cstdio>
#include <string>
#include <vector>

// Prints every setting as name=value, secrets that are set as "********". Exit code 0.
int ShowSettings(std::FILE* out);

// Checks every assignment first; any bad one refuses the whole command with one line
// per bad value on `err` and exit code 2. Otherwise saves the settings (and the PIN
// file) atomically under the settings lock: exit code 0, or 1 when the save failed.
// `program` prefixes the messages.
int SetSettings(const std::vector<std::string>& assignments, const std::string& program, std::FILE* err);
