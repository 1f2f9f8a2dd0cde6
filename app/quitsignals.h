#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the event loop as closing the window
// does, so that an unattended run (a script, a service manager) stopped by a
// signal still leaves its figures and closes its databases in order.
// Call once, after the application object exists.
void quitOnSignals();
