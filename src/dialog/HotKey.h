#pragma once
// The system-wide hot key Ctrl+Shift+S. On X11 the key is grabbed on the root window, so
// it reaches the program from any application; elsewhere there is no global hot key.
#include <functional>

// Grabs Ctrl+Shift+S (with CapsLock and NumLock in any state) and calls `onPress` on the
// user-interface thread for each press. A second call only replaces the callback.
// Returns false when the platform is not X11, no display is open, or another client
// holds the key.
bool InstallHotKey(std::function<void()> onPress);
