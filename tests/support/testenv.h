#pragma once

#include <QString>

namespace TestEnv {
// Opens connection1 and connection2 on fresh database files in a temporary
// directory that lives until the process ends; returns the directory.
QString openFreshDatabases();
// Resets the process-wide live data block to its start state.
void resetLiveData();
} // namespace TestEnv
