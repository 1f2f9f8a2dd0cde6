#include "pages/exporttable.h"

#include "gui/dialogs.h"
#include "model/livedata.h"
#include "model/valueformat.h"
#include "store/recordtablemodel.h"
#include "store/tableexport.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QHeaderView>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTableView>
#include <QThread>
#include <QTimer>

#include <limits>

void setUpRecordView(QTableView *view, RecordTableModel *model)
{
    // Columns are fitted to the rows around the visible ones: fitting to
    // every row of a table of millions would read all of them.
    constexpr int FitRows = 64;
    view->setModel(model);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setResizeContentsPrecision(FitRows);
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void sortRecordView(RecordTableModel *model, int column, bool &lastSortDescending)
{
    const Qt::SortOrder order = lastSortDescending ? Qt::AscendingOrder : Qt::DescendingOrder;
    lastSortDescending = !lastSortDescending;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model->sortByColumn(column, order);
    QApplication::restoreOverrideCursor();
}

namespace {

// A failed export named with its reason; a cancelled one says nothing.
void reportExport(QWidget *page, int language, const QString &fileName, const Result &result)
{
    if (result.ok() || result.isCancelled())
        return;
    Dialogs::message(page, QMessageBox::Warning, pickText(language, QStringLiteral("保存文件"), QStringLiteral("Save File")),
                     pickText(language, QStringLiteral("无法保存 %1：%2"), QStringLiteral("Cannot save %1: %2"))
                         .arg(fileName, result.error()));
}

} // namespace

void exportTable(QWidget *page, QTableView *view, const QStringList &chineseHeaders, int headerCount, Language shown)
{
    const int language = languageIndex(shown);
    const QString fileName = Dialogs::saveFileName(
        page, pickText(language, QStringLiteral("保存文件"), QStringLiteral("Save File")),
        pickText(language, QStringLiteral("表格文件(*.xlsx)\n表格文件(*.numbers)"),
                 QStringLiteral("table File(*.xlsx)\ntable File(*.numbers)")));
    if (fileName.isEmpty() || !view || !view->model())
        return;

    auto *model = qobject_cast<RecordTableModel *>(view->model());
    if (!model) {
        reportExport(page, language, fileName,
                     TableExport::exportModel(*view->model(), chineseHeaders, headerCount, fileName));
        return;
    }

    // The rows shown now, walked on a worker thread from a connection of its
    // own; samples that arrive meanwhile are stored and shown as usual.
    const RecordViewSnapshot snapshot = model->snapshot();
    std::atomic_bool cancel{false};
    std::atomic<qint64> done{0};

    QProgressDialog progress(pickText(language, QStringLiteral("正在保存数据..."), QStringLiteral("Saving data...")),
                             pickText(language, QStringLiteral("取消"), QStringLiteral("Cancel")), 0,
                             int(qBound<qint64>(1, snapshot.rowCount, std::numeric_limits<int>::max())), page);
    progress.setWindowTitle(pickText(language, QStringLiteral("保存文件"), QStringLiteral("Save File")));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QObject::connect(&progress, &QProgressDialog::canceled, [&cancel] { cancel = true; });

    Result result;
    QThread *worker = QThread::create([&] {
        result = TableExport::exportRows(snapshot, chineseHeaders, headerCount, fileName,
                                [&done](qint64 rows, qint64) { done = rows; }, &cancel);
    });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!cancel)
            progress.setValue(int(qMin<qint64>(done, progress.maximum())));
    });
    tick.start(100);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    tick.stop();
    progress.close();
    reportExport(page, language, fileName, result);
}
