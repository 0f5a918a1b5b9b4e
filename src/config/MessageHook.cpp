#include "config/MessageHook.h"

#include "link/Journal.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_hookMutex;
ErrorMessageHook g_hook;

}  // namespace

void LogErrorMessage(const std::string& text, const std::string& caption) {
    Journal(JOURNAL_ERR, "%s: %s", caption.c_str(), text.c_str());
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

void ShowErrorMessage(const std::string& text, const std::string& caption) {
    ErrorMessageHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook)
        hook(text, caption);
    else
        LogErrorMessage(text, caption);
}

ErrorMessageHook SetErrorMessageHook(ErrorMessageHook hook) {
    std::lock_guard lock(g_hookMutex);
    ErrorMessageHook old = std::move(g_hook);
    g_hook = std::move(hook);
    return old;
}
