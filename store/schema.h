#pragma once

#include "model/result.h"

#include <QSqlDatabase>
#include <QString>

// The two SQLite databases of the tool: their tables and how a database file
// is opened for them.
namespace Schema {

// The statements that create the two tables when they do not exist yet.
extern const char *const CreateTotalTable;
extern const char *const CreateRecordTable;
// Clear re-creates table `record` with its last column untyped.
extern const char *const RecreateRecordTable;

// Opens the database file `fileName` under `connectionName`, configures the
// connection and runs `createStatement` on it, which fails harmlessly when
// `table` exists already. Fails when the file cannot be opened or cannot be
// given its table, saying why, with the file's path.
Result openDatabase(const QString &connectionName, const QString &fileName, const QString &createStatement,
                    const QString &table);

// Per-connection settings: a short busy timeout (an insert never holds the
// window for long; a locked database is retried with the next row) and
// normal syncing. Returns false when a setting was refused.
bool configureConnection(QSqlDatabase db);

// Milliseconds an insert waits for another program's lock.
constexpr int BusyTimeoutMs = 100;

} // namespace Schema
