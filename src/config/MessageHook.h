#pragma once
// Error messages meant for a message box. Layers below the window call ShowErrorMessage;
// the window installs a hook that shows a real box while a window exists. Without a hook (service mode, console commands, no display) the text
// goes to syslog and standard error, so nobody waits on a box that cannot be dismissed.
#include <functional>
#include <string>

using ErrorMessageHook = std::function<void(const std::string& text, const std::string& caption)>;

// Shows or logs one error message; returns when the message has been handled.
void ShowErrorMessage(const std::string& text, const std::string& caption);

// Installs a hook (an empty one restores the default) and returns the previous one.
ErrorMessageHook SetErrorMessageHook(ErrorMessageHook hook);

// The default: one syslog line at error priority and one line on standard error.
void LogErrorMessage(const std::string& text, const std::string& caption);
