#pragma once
// The calling thread's last error, as the service layers record it: an errno value and,
// when the failing layer had one (sd-bus), its own message.
#include <cstddef>
#include <string>

void SetLastErrorCode(int code, const std::string& message = std::string());
int GetLastErrorCode();

// "text (0x<code>)" for the last error, or an empty text when there is no message or
// it would not fit in `size` characters (the text, 14 more, as the callers' buffers).
std::string FormatLastError(std::size_t size = 256);
