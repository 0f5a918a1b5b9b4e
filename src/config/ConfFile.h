#pragma once
// "Pellwick.conf": the settings the fixed 1016-byte record has no room for, as
// `name=value` lines beside the settings file. Lines starting with '#' are comments;
// comments, blank lines and names this version does not know are kept when the file
// is written again.
#include "config/Settings.h"

#include <string>

constexpr const char* CONF_FILE_NAME = "Pellwick.conf";

// The conf file that belongs to a settings file (same folder).
std::string ConfPathFor(const std::string& settingsPath);

// True for the settings stored in the conf file rather than in the record.
bool IsConfSetting(const char* name);

// Reads the conf file into `settings`; a missing file changes nothing. Unknown names and
// values the setting refuses are written to the journal (the refused values keep what the
// record held). False, with `error` naming the file and the reason, when the file exists
// but cannot be read whole (one over 64 KB included); `settings` is then unchanged.
bool ReadConfFile(CSettings& settings, const std::string& path, std::string* error = nullptr);

// Writes the conf values of `settings` into the file, keeping its comments and unknown
// lines, atomically and with mode 0600; nothing is written when the content would not
// change. False with errno set when the write failed or the file could not be read.
bool WriteConfFile(const CSettings& settings, const std::string& path);
