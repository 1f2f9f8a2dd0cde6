#pragma once

#include <QString>

// Start-up of the tool: the two SQLite connections with their tables, the
// command line, and the window.
namespace Startup {

// The statements that create the two tables when they do not exist yet.
extern const char *const CreateTotalTable;
extern const char *const CreateRecordTable;

// Opens the database file `fileName` under `connectionName` and runs
// `createStatement` on it (its failure on an existing table is expected and
// ignored). False when the file cannot be opened.
bool openDatabase(const QString &connectionName, const QString &fileName, const QString &createStatement);

// Opens connection1 ("my1.db", table total) and connection2 ("my2.db",
// table record) in `directory`. On failure shows the English-only box
// ("Cannot open database1" / "Cannot open database2") and returns false.
bool openDatabases(const QString &directory);

} // namespace Startup
