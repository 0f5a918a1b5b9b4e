#pragma once
// Runs the main window modally for the service body and the foreground modes.
class CServiceProcess;

// Selects Qt's offscreen platform when there is no display (neither DISPLAY nor
// WAYLAND_DISPLAY) and none was chosen, since Qt aborts when it can open no platform.
// Returns true when offscreen was selected.
bool ChooseQtPlatform();

// Runs the server: without a window when RunsHeadless says so, otherwise the window.
// The executable loads the window from its module (WindowLoader.cpp); the test
// libraries link it directly (DialogHost.cpp).
int RunMainDialog(CServiceProcess& process, int argc, char** argv);

// Creates the application object when there is none, runs MainDialog modally with the
// window recorded for the stop control, and returns the dialog's result.
int RunMainWindow(CServiceProcess& process, int argc, char** argv);

// What the window module exports for the executable.
constexpr const char* WINDOW_MODULE = "libpellwick-window.so";
constexpr const char* WINDOW_ENTRY = "PellwickRunWindow";
