#pragma once
// The server without a window, for a service run or a run with no display: the same
// gateway and worker loop as the window, each status shown to the service manager only
// (systemctl status), and "Stop && Exit..." arriving from the stop control. It uses no Qt,
// so the process loads no platform plugin and no fonts.
class CServiceProcess;

// True when the server runs without a window: started by the service manager, or in the
// foreground with no display (DISPLAY, WAYLAND_DISPLAY) and no Qt platform chosen.
bool RunsHeadless(const CServiceProcess& process);

// Runs the server until "Stop && Exit..." and its shutdown wait are over; returns 1, the
// window's OK result.
int RunHeadless(CServiceProcess& process);
