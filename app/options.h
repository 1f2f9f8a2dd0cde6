#pragma once

#include <QString>
#include <QStringList>

// The command line: port, baud rate, slave address and monitoring at start.
struct Options
{
    QString port;
    int baud = 0;      // 0 = keep the window's default
    int address = 0;   // 0 = keep the window's default
    bool monitor = false;
    // Parameter sets from the command line: read the pack's parameters into
    // a set file, or write a set file into the pack; no window is shown.
    QString readSet;
    QString writeSet;
    int pollMs = 1000; // poll period (shorter for test rigs)
    bool isParameterJob() const { return !readSet.isEmpty() || !writeSet.isEmpty(); }

    enum Outcome { Run, ExitOk, ExitError };
    Outcome outcome = Run;
    QString message; // printed on stdout (help, version) or stderr (errors)

    // Parses argv (arguments()[0] is the program). Bad values give
    // ExitError with a message naming the option.
    static Options parse(const QStringList &arguments);
};
