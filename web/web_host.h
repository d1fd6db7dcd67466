// How the bridge's process is hosted: in a terminal or under systemd, where
// SIGTERM and SIGINT stop it, or as the Windows service "OvalixWeb", whose
// stop control does.
#pragma once

// Runs run() until it returns; stop() is called from a signal handler or
// the service manager's thread to end it. asService: started by the Windows
// service manager (ignored elsewhere). The exit status.
int RunHosted(bool asService, int (*run)(), void (*stop)());

// Makes the terminal show what `pair` prints: UTF-8 text with colour
// sequences (on Windows the console's code page and escape handling; other
// terminals do so already).
void PrepareTerminal();
