#pragma once
// The parts of the manual that the program's own tables decide, as Markdown that
// doc/pellwick.8.md includes when the manual is rendered: every setting with its file,
// default, values and meaning; the default statements; every status text.
#include <string>

// The file a setting is kept in: "Pellwick.ini", "Pellwick.conf" or "Pellwick.pin".
const char* SettingFile(const char* name);

// | name | file | default | values | meaning |, one row per setting in -show order.
std::string SettingsTable();
// A code block with the default select_sql, update_sql and insert_sql.
std::string DefaultStatements();
// | code | status text | icon | what to check |, one row per status code.
std::string StatusTable();

// What to check when a status code shows; nullptr for a code without advice.
const char* StatusAdvice(int code);
