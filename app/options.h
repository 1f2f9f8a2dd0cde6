#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The command line: port, baud rate, slave address and monitoring at start.
struct Options
{
    QString port;
    int baud = 0;      // 0 = keep the window's default
    int address = 0;   // 0 = keep the window's default; else the first of `addresses`
    // --address as a list ("1,3,7", "1-4,9"): the packs polled in turn.
    QVector<quint8> addresses;
    bool monitor = false;
    int pollMs = 0;    // 0 = the poll period of a real bus, 1000 ms
    QString dataDir;        // --data-dir: where the databases go (empty = the usual choice)
    bool checkIcon = false; // hidden --check-icon: report the compiled-in icon and exit

    // Reading the BMS's log from the command line, without a window.
    bool readDatalog = false;
    int datalogBegin = 0;
    int datalogEnd = 0;
    bool fast = false;  // --read-datalog and --write-set: the fast pace
    QString exportFile;
    // Parameter sets from the command line: read the pack's parameters into
    // a set file, or write a set file into the pack; no window is shown.
    QString readSet;
    QString writeSet;
    bool force = false; // --write-set: past the plausibility and model checks
    // Listing the packs on the line: the identity read to IDs first..last.
    bool scan = false;
    int scanFirst = 1;
    int scanLast = 64;
    // The unattended monitor (a system service): no window, the packs at
    // `addresses` stored and, with a broker, published to MQTT.
    bool service = false;
    QString configFile;        // --config: the service's settings (INI)
    QString mqttUrl;           // --mqtt: the broker
    bool logFrames = false;    // --log-frames: every frame on stderr
    bool isParameterJob() const { return !readSet.isEmpty() || !writeSet.isEmpty(); }
    // A run for scripts: the command line names the port.
    bool isScripted() const { return !port.isEmpty(); }

    enum Outcome { Run, ExitOk, ExitError };
    Outcome outcome = Run;
    QString message; // printed on stdout (help, version) or stderr (errors)

    // Parses argv (arguments()[0] is the program). Bad values give
    // ExitError with a message naming the option.
    static Options parse(const QStringList &arguments);
};
