#pragma once

#include "model/parameterset.h"
#include "session/parameterwriter.h"

#include "gui/dialogs.h"

#include <QObject>
#include <QString>

class MainWindow;

// A parameter set read from or written into the pack without a window:
// the same page, writer and link code as the buttons, driven from the
// command line. Monitoring starts, the link comes online, then either Read
// and the set file is saved from the page, or the set file is opened on the
// page and written with Write: the pack's parameters are read first, the
// plausibility rules and the model checked, the groups written and read
// back. Progress goes to stderr; finished() carries the exit code (0 done,
// 1 failed) and a one-line reason, which for a write that did not finish
// says how far it got.
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
    ParameterSetJob(MainWindow &window, Mode mode, const QString &fileName, Settings settings,
                    QObject *parent = nullptr);
    ~ParameterSetJob() override;

    // Starts the job; finished() follows, also for a set refused at once.
    void start();
    // Ends the job from outside (a signal): a running write ends with its
    // report, anything else with `what`.
    void interrupt(const QString &what);

signals:
    void finished(int exitCode, const QString &reason);

private:
    void online();
    void shown();
    void writeEnded(const ParameterWriter::Report &report);
    void finish(int exitCode, const QString &reason);
    void progress(const QString &text);
    QString silentText() const;

    MainWindow &m_window;
    Mode m_mode;
    QString m_fileName;
    Settings m_settings;
    bool m_online = false;
    bool m_done = false;
    QString m_lastBox; // the text of the last box, answered unseen
    std::function<int(const Dialogs::Request &, QString *)> m_previousHook;
};
