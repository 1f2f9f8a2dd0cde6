#pragma once

#include <functional>

// Makes SIGTERM, SIGINT and SIGHUP end the event loop as closing the window
// does, so that an unattended run (a script, a service manager) stopped by a
// signal still leaves its figures and closes its databases in order.
// On Windows the console's events do the same: Ctrl+C ("Ctrl+C"),
// Ctrl+Break ("Ctrl+Break"), and closing the console window, logging off or
// shutting down ("console close").
// Call after the application object exists. With `handler`, a signal calls
// it (in the event loop, with the signal's name, "SIGTERM") instead of
// quitting: the caller ends what runs and quits itself. A later call
// replaces the handler.
void quitOnSignals(std::function<void(const char *name)> handler = nullptr);
