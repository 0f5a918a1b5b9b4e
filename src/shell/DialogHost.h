#pragma once
// Runs the main window modally for the service body and the foreground modes.
class CServiceProcess;

// Selects Qt's offscreen platform when there is no display (neither DISPLAY nor
// WAYLAND_DISPLAY) and none was chosen, since Qt aborts when it can open no platform.
// Returns true when offscreen was selected.
bool ChooseQtPlatform();

// Runs the server without a window when RunsHeadless says so; otherwise creates the
// application object when there is none, runs MainDialog modally with the window
// recorded for the stop control, and returns the dialog's result.
int RunMainDialog(CServiceProcess& process, int argc, char** argv);
