#pragma once
// The names the process shows and registers under.
constexpr const char* PROGRAM_NAME = "Orvane Pellwick";
constexpr const char* SERVICE_NAME = "Orvane Pellwick";
constexpr const char* DISPLAY_NAME = "Orvane Pellwick";

constexpr const char* UNIT_NAME = "orvane-pellwick.service";
constexpr const char* UNIT_FOLDER = "/etc/systemd/system";
