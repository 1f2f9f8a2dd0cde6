#include "app/datalogjob.h"

#include "app/appinfo.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "gui/dialogs.h"
#include "model/datalog.h"
#include "model/livedata.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/tableexport.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "packscope: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// A box's text on one line.
QString oneLine(const QString &text)
{
    return text.simplified();
}

} // namespace

DatalogJob::DatalogJob(const Options &options, QObject *parent) : QObject(parent), m_options(options) {}

DatalogJob::~DatalogJob()
{
    Dialogs::clearHook();
}

int DatalogJob::run(const Options &options, const QString &dataFolder)
{
    // The database drivers' and tables' chatter is no progress report.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    // A failure to open a database is reported here, not in a box.
    Dialogs::setHook([](const Dialogs::Request &r, QString *) {
        say(QStringLiteral("%1: %2").arg(r.title, oneLine(r.text)));
        return int(QMessageBox::Cancel);
    });
    if (!Startup::openDatabases(dataFolder)) {
        Dialogs::clearHook();
        return 1;
    }
    DatalogJob job(options);
    return job.exec();
}

int DatalogJob::exec()
{
    // Reading 680 records takes minutes: a file that cannot be written is
    // found out before the first of them.
    const QString problem = AppInfo::writableFileProblem(m_options.exportFile);
    if (!problem.isEmpty()) {
        say(QStringLiteral("cannot write %1: %2").arg(m_options.exportFile, problem));
        return 1;
    }
    // No one is there to close a box: whatever the window would ask or
    // report ends the job with its text as the reason.
    Dialogs::setHook([this](const Dialogs::Request &r, QString *fileName) {
        if (fileName)
            fileName->clear();
        fail(QStringLiteral("%1: %2").arg(r.title, oneLine(r.text)));
        return int(QMessageBox::Ok);
    });

    m_window = std::make_unique<MainWindow>();
    MainWindow &w = *m_window;
    w.applyLinkOptions(m_options);
    BmsDatalog *page = w.datalogPage();
    page->setFastRead(m_options.fast);
    page->setRangeText(QString::number(m_options.datalogBegin), QString::number(m_options.datalogEnd));

    connect(&w, &MainWindow::linkOnline, this, [this, page] {
        if (m_started)
            return;
        m_started = true;
        m_clock.start();
        say(QStringLiteral("reading records %1-%2%3")
                .arg(m_options.datalogBegin)
                .arg(m_options.datalogEnd)
                .arg(m_options.fast ? QStringLiteral(" (fast)") : QString()));
        page->on_pushButton_clicked();
    });
    connect(&w, &MainWindow::linkLost, this, [this, &w] {
        const SerialLink *link = w.link();
        if (link->isWaitingForPort() || !link->isMonitoring())
            fail(QStringLiteral("the port %1 was lost: %2").arg(link->portName(), link->errorString()));
        else if (m_started)
            fail(QStringLiteral("link lost: the BMS stopped answering"));
        else
            fail(QStringLiteral("no answer from the BMS at ID %1 on %2 at %3 baud: check the ID, the baud rate and the wiring")
                     .arg(link->address())
                     .arg(link->portName())
                     .arg(link->baudRate()));
    });
    connect(page, &BmsDatalog::recordStored, this, &DatalogJob::onRecordStored);
    connect(page, &BmsDatalog::readingEnded, this, &DatalogJob::onReadingEnded);

    say(QStringLiteral("connecting to %1").arg(m_options.port));
    w.on_monitorBtn_clicked();
    if (m_code < 0 && !w.isMonitoring())
        fail(QStringLiteral("cannot open %1: %2").arg(m_options.port, w.link()->errorString()));
    if (m_code < 0)
        m_loop.exec();
    stopLink();
    return m_code;
}

void DatalogJob::onRecordStored(int record, qint64 id)
{
    ++m_done;
    if (id > 0)
        m_storedIds.push_back(id);
    const int total = m_options.datalogEnd - m_options.datalogBegin + 1;
    const qint64 left = Datalog::msLeft(m_clock.elapsed(), m_done, total);
    say(QStringLiteral("%1 (No. %2)").arg(Datalog::progressText(m_done, total, left, 1)).arg(record));
}

void DatalogJob::onReadingEnded(bool complete)
{
    if (m_code >= 0)
        return;
    if (!complete) {
        fail(QStringLiteral("the reading was stopped"));
        return;
    }
    // Whatever happens now, the link has nothing more to do.
    QTimer::singleShot(0, this, [this] {
        stopLink();
        // Records that had to wait for the database get one more try.
        SampleQueue *queue = m_window->datalogPage()->queue();
        queue->retry();
        m_notStored = queue->waiting() + int(queue->lost());
        const RecordTable::Definition &def = RecordTable::datalog();
        const QString database = QSqlDatabase::database(def.connectionName).databaseName();
        // Another reader may store into the same table meanwhile: the rows
        // of this run are the ones it stored, not a range of ids.
        const Result written = TableExport::exportIds(def, database, m_storedIds, def.chineseHeaders(),
                                                      def.columnCount(), liveData().language, m_options.exportFile);
        if (!written.ok()) {
            fail(QStringLiteral("cannot write %1: %2").arg(m_options.exportFile, written.error()));
            return;
        }
        if (m_notStored > 0) {
            fail(QStringLiteral("%1 of %2 records could not be stored; the others are in %3")
                     .arg(m_notStored)
                     .arg(m_done + m_notStored)
                     .arg(m_options.exportFile));
            return;
        }
        say(QStringLiteral("%1 records read in %2 s, written to %3")
                .arg(m_done)
                .arg(m_clock.elapsed() / 1000.0, 0, 'f', 1)
                .arg(m_options.exportFile));
        m_code = 0;
        m_loop.quit();
    });
}

void DatalogJob::fail(const QString &reason)
{
    if (m_code >= 0)
        return;
    m_code = 1;
    say(reason);
    // Called from within the link's handling: the port is closed after it
    // has returned.
    QTimer::singleShot(0, this, [this] {
        stopLink();
        m_loop.quit();
    });
}

void DatalogJob::stopLink()
{
    if (m_window && m_window->isMonitoring())
        m_window->on_monitorBtn_clicked();
}
