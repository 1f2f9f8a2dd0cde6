#pragma once

#include "session/bmssession.h"

#include <QObject>
#include <QString>

// A parameter set read from or written into the pack from the command line,
// without a window or a display: the session and its writer that the
// parameter page uses too. Monitoring starts, the link comes online, then
// either the parameters are read and saved as a set file, or the set file
// is written: the pack's parameters read first, the plausibility rules and
// the model checked, the groups written and read back. Progress goes to
// stderr; finished() carries the exit code (0 done, 1 failed) and a
// one-line reason, which for a write that did not finish says how far it
// got.
class ParameterSetJob : public QObject
{
    Q_OBJECT
public:
    enum Mode { ReadSet, WriteSet };
    struct Settings
    {
        bool fast = false;  // each frame as soon as the last is acknowledged
        bool force = false; // write past broken rules and another model
    };
    // The session's link is set up (port, baud rate, ID) by the caller.
    ParameterSetJob(BmsSession &session, Mode mode, const QString &fileName, Settings settings,
                    QObject *parent = nullptr);

    // Starts the job; finished() follows, also for a set refused at once.
    void start();
    // Ends the job from outside (a signal): a running write ends with its
    // report, anything else with `what`.
    void interrupt(const QString &what);

signals:
    void finished(int exitCode, const QString &reason);

private:
    void online();
    void parametersRead();
    void writeEnded(const ParameterWriter::Report &report);
    void linkGone();
    bool confirm(const ParameterWriter::Concerns &concerns);
    void finish(int exitCode, const QString &reason);
    void progress(const QString &text);

    BmsSession &m_session;
    Mode m_mode;
    QString m_fileName;
    Settings m_settings;
    ParameterWriter::Request m_request; // a set to write, as read from its file
    bool m_online = false;
    bool m_done = false;
};
