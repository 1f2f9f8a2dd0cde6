#pragma once

#include <QString>

// Start-up of the tool: the two SQLite connections with their tables, the
// command line, and the window.
namespace Startup {

// Opens connection1 ("my1.db", table total) and connection2 ("my2.db",
// table record) in `directory`. On failure shows the English-only box
// ("Cannot open database1" / "Cannot open database2") and returns false.
bool openDatabases(const QString &directory);

} // namespace Startup
