#pragma once
// Every setting a person may change, by the name the command line uses, with the check
// its value must pass and what it means. The configuration window and `-set` share these
// rules; the manual's table of settings is written from them.
#include "config/Settings.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// What a change of a setting asks of a running gateway.
enum SettingEffect : int {
    EFFECT_NONE = 0,
    EFFECT_DEVICE = 1,    // the device link is reopened
    EFFECT_DATABASE = 2,  // the database link is reopened
    EFFECT_OTHER = 4,     // any change: the driver takes its retry values again
};

struct SettingField {
    enum Kind { Integer, Flag, Choice, Text };

    const char* name;
    // One line for the manual, plain text; the window's label in brackets at its end.
    const char* description;
    Kind kind;
    int CSettings::*integer;       // Integer, Flag, Choice
    std::string CSettings::*text;  // Text
    int min, max;                  // Integer: accepted range
    std::size_t maxBytes;          // Text: longest value in UTF-8 bytes
    const std::vector<std::string>* choices;  // Choice: the value of each index
    bool secret;                   // shown masked
    int effect;                    // SettingEffect bits
    // Text: a further check of the value, its refusal or nullopt.
    std::optional<std::string> (*check)(const std::string&) = nullptr;
};

// The settings in the order -show prints them.
const std::vector<SettingField>& SettingFields();
// The field of a name, or nullptr.
const SettingField* FindSettingField(const std::string& name);

// The integer a text holds: optional surrounding blanks, an optional sign and digits
// that fit an int. Anything else is not a number.
std::optional<int> ParseSettingInteger(const std::string& text);

// The message for a number outside its range, or that is no number at all, as the
// window's fields show it: "Please enter an integer between 0 and 1000.".
std::string IntegerRangeMessage(int min, int max);
extern const char* const INTEGER_MESSAGE;  // "Please enter an integer."

// The value as -show prints it (secrets that are set as "********").
std::string ShowSetting(const SettingField& field, const CSettings& settings);
// Checks `value` and stores it in `settings`; the reason it was refused otherwise.
std::optional<std::string> AssignSetting(const SettingField& field, const std::string& value, CSettings& settings);

// Copies every setting of the table except the PIN from `from` into `to` where
// `from` differs from `base`: the changes someone else made since `base`. Returns the
// SettingEffect bits of the settings that changed in `to`.
int MergeSettings(const CSettings& base, const CSettings& from, CSettings& to);
