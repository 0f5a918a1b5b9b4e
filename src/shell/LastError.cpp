#include "shell/LastError.h"

#include <cstdio>
#include <cstring>

namespace {

thread_local int t_code = 0;
thread_local std::string t_message;

}  // namespace

void SetLastErrorCode(int code, const std::string& message) {
    t_code = code;
    t_message = message;
}

int GetLastErrorCode() { return t_code; }

std::string FormatLastError(std::size_t size) {
    std::string text = t_message;
    if (text.empty() && t_code != 0) text = std::strerror(t_code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty() || size < text.size() + 14) return std::string();
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(t_code));
    return text + " (0x" + code + ")";
}
