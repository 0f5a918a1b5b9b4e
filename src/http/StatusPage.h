#pragma once
// The status page: one self-contained HTML document (inline style, no scripts or assets
// from elsewhere) that reloads itself every few seconds.
#include "http/HttpBackend.h"

#include <string>

std::string RenderStatusPage(const GatewaySnapshot& snapshot);

// "+4917112345567" -> "+49171****567": the middle of a number hidden, more of a short one.
std::string MaskNumber(const std::string& number);
// Text made safe inside an element or a quoted attribute.
std::string HtmlEscape(const std::string& text);
