#pragma once

#include "app/options.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class MainWindow;

// `packscope --read-datalog BEGIN-END --export FILE`: reads a range of the
// BMS's log the way the datalog page does, through the same window, page
// and link, without showing them: start monitoring, wait for the link to
// come online, set the range (and the fast read), press Start, wait for the
// last record, write the rows of this run to FILE in the export format.
// Progress goes to stderr. Exit code 0 when every record was read and
// stored and the file written; 1 with a one-line reason otherwise.
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

private:
    void fail(const QString &reason);
    void onRecordStored(int record, qint64 id);
    void onReadingEnded(bool complete);
    void stopLink();

    Options m_options;
    std::unique_ptr<MainWindow> m_window;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    int m_code = -1;
    bool m_started = false;
    std::vector<qint64> m_storedIds; // the rows this run stored
    int m_done = 0;
    int m_notStored = 0;
};
