#pragma once

#include "store/tableexport.h"

#include <QStringList>

class QTableView;
class QWidget;

// The Save button of a recorded-data page: asks for the file name and
// exports the page's view. A large table is written on a worker thread under
// a progress dialog that can cancel; the window keeps running meanwhile.
void exportTable(QWidget *page, QTableView *view, const QStringList &chineseHeaders, int headerCount);
