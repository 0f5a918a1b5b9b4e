#pragma once
// `-show` and `-set NAME=VALUE ...`: the settings of the state folder read and changed
// from a shell, with the checks of the configuration window. No window is involved.
#include <cstdio>
#include <string>
#include <vector>

// 0 when the settings files can be read or are missing; otherwise writes why to `err`
// and the journal and returns 1. A gateway checks this before it starts.
int CheckSettingsReadable(const std::string& program, std::FILE* err);

// Prints "# state folder: DIR", then every setting as name=value, secrets that are set as
// "********". Exit code 0, or 1 (with the reason on `err`) when the files exist but
// cannot be read.
int ShowSettings(std::FILE* out, const std::string& program, std::FILE* err);

// Checks every assignment first; any bad one refuses the whole command with one line
// per bad value on `err` and exit code 2. A secret given as "-" (pin=-, db_password=-)
// is the next line of `in`, without its line end. Otherwise saves the settings (and the
// PIN file) atomically under the settings lock: exit code 0, or 1 when the files could
// not be read or the save failed; files that could not be read are never written.
// `program` prefixes the messages.
int SetSettings(const std::vector<std::string>& assignments, const std::string& program, std::FILE* err,
                std::FILE* in = stdin);
