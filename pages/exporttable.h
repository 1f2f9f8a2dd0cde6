#pragma once

#include "model/language.h"

#include "store/tableexport.h"

#include <QStringList>

class QTableView;
class QWidget;

class RecordTableModel;

// The table of a recorded-data page: the model, the last column stretched,
// no row numbers, whole rows selected, columns fitted to the rows in sight.
void setUpRecordView(QTableView *view, RecordTableModel *model);

// A header click on a recorded-data page: one direction flag for the page,
// turned over by every click whichever column is clicked. The first sort of
// a column builds its index, a second or so for a table of a million rows.
void sortRecordView(RecordTableModel *model, int column, bool &lastSortDescending);

// The Save button of a recorded-data page: asks for the file name and
// exports the page's view. A large table is written on a worker thread under
// a progress dialog that can cancel; the window keeps running meanwhile.
void exportTable(QWidget *page, QTableView *view, const QStringList &chineseHeaders, int headerCount, Language language);
