#pragma once

#include "app/mainwindow.h"
#include "gui/dialogs.h"
#include "support/simprocess.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// One end-to-end run: the BMS simulator on its pseudo-terminal (or any
// device the test names) and a main window on it. Every box the tool opens
// is recorded as "title: text" and answered with Ok.
class E2e
{
public:
    static const QString Out, In; // the log's English prefixes
    static constexpr int Deadline = 30000; // ticks of a second on a loaded machine

    E2e(); // fresh databases, the box hook
    ~E2e();

    SimProcess sim;
    std::unique_ptr<MainWindow> window;
    QStringList boxes;
    QList<Dialogs::Request> requests; // the same boxes, whole
    std::function<void()> onBox; // runs inside the box, as a modal loop would

    // A window on `device` (idle), with `pollMs` (0: the window's own) and
    // the slave `address`.
    MainWindow &open(const QString &device, int pollMs = 0, int address = 1);
    // The simulator with `simArguments` and a window on it, not monitoring.
    bool start(const QStringList &simArguments = {}, int pollMs = 0, int address = 1);
    // The same, then Start Monitoring.
    bool monitor(const QStringList &simArguments = {}, int pollMs = 0, int address = 1);
    // Waits until the link is online.
    bool online();
    // Stops monitoring, drops the window, stops the simulator, forgets boxes.
    void reset();

    QStringList lines() const; // the communication log
    QStringList linesOf(const QString &prefix) const { return lines().filter(prefix); }
    int count(const QString &prefix) const { return linesOf(prefix).size(); }
    QString comState() const;
};

// Runs programs as a technician would: a copy of packscope in a folder of
// its own (it keeps its databases beside itself), its exit code and output.
struct ProgramRun
{
    int code = -1; // -1: it hung or crashed
    QString out, err;
};
QString copyProgram(const QTemporaryDir &dir);
ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                      const QString &workDir = QString());
// The environment with `name`=`value` added.
QProcessEnvironment withEnv(const char *name, const QString &value,
                            QProcessEnvironment env = QProcessEnvironment::systemEnvironment());
