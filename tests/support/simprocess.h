#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

// The BMS simulator (bms-sim) run as a child process on a pseudo-terminal of
// its own, for tests that drive the tool's serial link end to end. The
// simulator's stderr (its --verbose commentary, its complaints) passes
// through to the test's stderr.
class SimProcess
{
public:
    SimProcess() = default;
    ~SimProcess(); // kills a simulator that is still running
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the simulator with `arguments` (its command-line options) and
    // waits for the line naming its device. False when it did not start or
    // named no device in time; errorString() says why.
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000);

    // The serial device the tool should open, e.g. "/dev/pts/3".
    QString deviceName() const { return m_device; }
    // Writes one control line ("silent on", "silent off", "quit").
    bool send(const QString &controlLine);
    // The simulator's registers [start, start + count), the clock brought
    // up to date; empty when it did not answer.
    QVector<quint16> registers(int start, int count);
    // Asks the simulator to quit and waits for it; kills it if it lingers.
    void stop();

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    QString errorString() const { return m_error; }

private:
    QProcess m_process;
    QString m_device;
    QString m_error;
};
