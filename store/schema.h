#pragma once

#include <QString>

// The two SQLite databases of the tool: their tables and how a database file
// is opened for them.
namespace Schema {

// The statements that create the two tables when they do not exist yet.
extern const char *const CreateTotalTable;
extern const char *const CreateRecordTable;
// Clear re-creates table `record` with its last column untyped.
extern const char *const RecreateRecordTable;

// Opens the database file `fileName` under `connectionName` and runs
// `createStatement` on it (its failure on an existing table is expected and
// ignored). False when the file cannot be opened.
bool openDatabase(const QString &connectionName, const QString &fileName, const QString &createStatement);

} // namespace Schema
