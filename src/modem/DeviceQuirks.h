#pragma once
// Where phones and modems differ from the common AT dialogue. Every model-specific rule of
// the driver lives here, keyed by the texts the device reports about itself.
#include "modem/ReplyParser.h"

#include <string>

namespace quirks {

// The value of an identity answer split into fields: the first field, without a
// "+CGMM:"-style echo of the command name. Phones such as the Motorola E365 answer the
// model query with a list of bands and name the model in one item, "MODEL=<name>".
std::string IdentityValue(const ReplyFields& fields, int count);

// Some Motorola phones (model "E365") answer the manufacturer query with nothing; they are
// named by their model so the rest of the driver can treat them as Motorola devices.
void FillMissingManufacturer(std::string& manufacturer, const std::string& model);

// TE character set from the AT+CSCS=? answer: Sony Ericsson phones mangle UCS2 and get
// 8859-1 whatever they offer; Wavecom modems handle "HEX" (UCS2 hex) where others may not.
// Otherwise the first of UCS2, PCCP437, 8859-1 offered, else GSM.
std::string ChooseCharacterSet(const std::string& manufacturer, const std::string& cscsReply);

// Wavecom modems take a UCS2 service-centre number only with the "80" coding prefix, and a
// number they can read in GSM unchanged.
bool WantsPrefixedUcs2(const std::string& manufacturer);

}  // namespace quirks
