#pragma once

#include "model/result.h"
#include "store/recordtablemodel.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

class QAbstractItemModel;

// Export of a recorded-data page's table as tab-separated text: one header
// line of the Chinese headers, then every row of the view as it is shown
// (display texts, view order), every field followed by a TAB and every line
// ended by CR LF. The text is UTF-8 without a byte-order mark, so that the
// Chinese headers survive whatever the locale of the PC.
namespace TableExport {

// Called now and then with the rows written so far and the total.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Writes the first headerCount entries of `headers` and every row of `view`
// to fileName. Reads through a connection of its own, so it may run on any
// thread. The file appears under its name only when complete: a cancelled
// or failed export leaves an existing file as it was and creates none. A
// failure carries the reason (the folder missing, the disk full).
Result exportRows(const RecordViewSnapshot &view, const QStringList &headers, int headerCount,
                  const QString &fileName, const Progress &progress = Progress(),
                  const std::atomic_bool *cancel = nullptr);

// Writes the rows with the given ids of the table of `definition` in file
// `databaseName`, newest first as a page shows them, with the texts of
// `language`: the rows stored by one run of a reader. Other writers may
// share the table meanwhile, so a run's rows need not be contiguous. A row
// no longer there (the table cleared meanwhile) is a failure.
Result exportIds(const RecordTable::Definition &definition, const QString &databaseName,
                 std::vector<qint64> ids, const QStringList &headers, int headerCount, int language,
                 const QString &fileName);

// The same for any table model, read on the calling thread.
Result exportModel(const QAbstractItemModel &model, const QStringList &headers, int headerCount,
                   const QString &fileName);

} // namespace TableExport
