#include "app/datalogjob.h"

#include "app/appinfo.h"
#include "app/startup.h"
#include "gui/dialogs.h"
#include "model/datalog.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "session/bmssession.h"
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
    const Result writable = AppInfo::checkWritable(m_options.exportFile);
    if (!writable.ok()) {
        say(QStringLiteral("cannot write %1: %2").arg(m_options.exportFile, writable.error()));
        return 1;
    }
    m_session = std::make_unique<BmsSession>();
    SerialLink *link = m_session->link();
    // The command line and the defaults; never the window's last choices.
    link->setPortName(m_options.port);
    link->setBaudRate(m_options.baud ? m_options.baud : 115200);
    link->setAddress(quint8(m_options.address ? m_options.address : 1));
    if (m_options.pollMs)
        link->setPollInterval(m_options.pollMs);
    DatalogReader *reader = m_session->datalog();
    reader->setFast(m_options.fast);
    // The records go into table `record` as the page stores them: one that
    // the database does not take now waits and is stored in order.
    m_model = std::make_unique<RecordTableModel>(RecordTable::datalog());
    m_queue = std::make_unique<SampleQueue>(m_model.get());
    connect(reader, &DatalogReader::recordRead, this, [this](int record) {
        const BmsLiveData &live = liveData();
        m_queue->submit(Datalog::recordValues(record, live.recordRegisters, serialText(live)));
    });
    connect(m_queue.get(), &SampleQueue::stored, this,
            [this](qint64 id, const QVector<QVariant> &values) { onRecordStored(values.value(0).toInt(), id); });
    connect(reader, &DatalogReader::ended, this, &DatalogJob::onReadingEnded);

    connect(m_session.get(), &BmsSession::online, this, [this, reader] {
        if (m_started)
            return;
        m_started = true;
        m_clock.start();
        say(QStringLiteral("reading records %1-%2%3")
                .arg(m_options.datalogBegin)
                .arg(m_options.datalogEnd)
                .arg(m_options.fast ? QStringLiteral(" (fast)") : QString()));
        reader->start(m_options.datalogBegin, m_options.datalogEnd);
    });
    connect(m_session.get(), &BmsSession::portLost, this, [this](const QString &port, const QString &reason) {
        fail(QStringLiteral("the port %1 was lost: %2").arg(port, reason));
    });
    connect(m_session.get(), &BmsSession::offline, this, [this, link] {
        if (m_started)
            fail(QStringLiteral("link lost: the BMS stopped answering"));
        else
            fail(QStringLiteral("no answer from the BMS at ID %1 on %2 at %3 baud: check the ID, the baud rate and the wiring")
                     .arg(link->address())
                     .arg(link->portName())
                     .arg(link->baudRate()));
    });

    say(QStringLiteral("connecting to %1").arg(m_options.port));
    const Result started = m_session->start();
    if (!started.ok())
        fail(QStringLiteral("cannot open %1: %2").arg(m_options.port, started.error()));
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
        m_queue->retry();
        m_notStored = m_queue->waiting() + int(m_queue->lost());
        const RecordTable::Definition &def = RecordTable::datalog();
        const QString database = QSqlDatabase::database(def.connectionName).databaseName();
        // Another reader may store into the same table meanwhile: the rows
        // of this run are the ones it stored, not a range of ids.
        const Result written = TableExport::exportIds(def, database, m_storedIds, def.chineseHeaders(),
                                                      def.columnCount(), 1, m_options.exportFile); // in English, as the window starts
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
    if (m_session && m_session->isMonitoring())
        m_session->stop();
}
