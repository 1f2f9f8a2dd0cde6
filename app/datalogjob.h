#pragma once

#include "app/options.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class BmsSession;
class RecordTableModel;
class SampleQueue;

// `packscope --read-datalog BEGIN-END --export FILE`: reads a range of the
// BMS's log the way the datalog page does, through the same session and
// record reader, without a window or a display: start monitoring, wait for
// the link to come online, read the range (at the fast pace if asked),
// store every record in table `record`, write the rows of this run to FILE
// in the export format. Progress goes to stderr. Exit code 0 when every
// record was read and stored and the file written; 1 with a one-line reason
// otherwise.
class DatalogJob : public QObject
{
    Q_OBJECT
public:
    explicit DatalogJob(const Options &options, QObject *parent = nullptr);
    ~DatalogJob() override;

    // Opens the databases in `dataFolder` and runs the job; needs an
    // application object. Returns the exit code.
    static int run(const Options &options, const QString &dataFolder);

    // Runs the job on databases that are open already.
    int exec();
    // Ends the job from outside (a signal), with `what` as its reason.
    void interrupt(const QString &what) { fail(what); }

private:
    void fail(const QString &reason);
    void onRecordStored(int record, qint64 id);
    void onReadingEnded(bool complete);
    void stopLink();

    Options m_options;
    std::unique_ptr<BmsSession> m_session;
    std::unique_ptr<RecordTableModel> m_model;
    std::unique_ptr<SampleQueue> m_queue;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    int m_code = -1;
    bool m_started = false;
    std::vector<qint64> m_storedIds; // the rows this run stored
    int m_done = 0;
    int m_notStored = 0;
};
