#pragma once
// The systemd unit of the gateway: one text for the unit that -install writes and the
// one the Debian package ships (generated at build time by the same function).
#include "shell/ServiceManager.h"

#include <string>

// Where the packaged gateway lives; a unit for it keeps the state in STATE_FOLDER.
constexpr const char* PACKAGED_EXECUTABLE = "/usr/bin/pellwick";
constexpr const char* STATE_FOLDER = "/var/lib/orvane-pellwick";
// The system account every unit runs as, with the group dialout for the serial ports.
constexpr const char* SERVICE_ACCOUNT = "pellwick";

// The unit file for a service, sandboxed, running as SERVICE_ACCOUNT. For the packaged
// executable the state is in STATE_FOLDER; an executable anywhere else keeps its state
// beside itself.
// With an instance the text is the template orvane-pellwick@.service, the same for every
// instance: each runs with -instance %i and keeps its state in a folder of its own,
// STATE_FOLDER/%i or the executable's folder plus /%i.
std::string ServiceUnitText(const ServiceDefinition& definition);
