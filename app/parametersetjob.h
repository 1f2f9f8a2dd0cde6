#pragma once

#include "model/parameterset.h"

#include <QObject>
#include <QString>
#include <QTimer>

class MainWindow;

// A parameter set read from or written into the pack without a window:
// the same page and link code as the buttons, driven from the command line.
// Monitoring starts, the link comes online, then either Read and the set
// file is saved from the page, or the set file is opened on the page,
// written with Write and read back. Progress and every box go to stderr;
// finished() carries the exit code (0 done, 1 failed) and a one-line reason.
class ParameterSetJob : public QObject
{
    Q_OBJECT
public:
    enum Mode { ReadSet, WriteSet };
    ParameterSetJob(MainWindow &window, Mode mode, const QString &fileName, QObject *parent = nullptr);

    // Starts the job; finished() follows, also for a set refused at once.
    void start();

    // Seconds the job waits without any progress before it gives up.
    static constexpr int StallSeconds = 20;

signals:
    void finished(int exitCode, const QString &reason);

private:
    void online();
    void shown();
    void sequenceEnded(bool success);
    void finish(int exitCode, const QString &reason);
    void progress(const QString &text);
    QString readBackDifference() const;

    MainWindow &m_window;
    Mode m_mode;
    QString m_fileName;
    ParamSet::Set m_set;
    QTimer m_stall;
    bool m_online = false;
    bool m_written = false;
    bool m_done = false;
};
