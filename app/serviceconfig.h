#pragma once

#include "model/result.h"

#include <QString>
#include <QStringList>
#include <QVector>

struct Options;

// The settings of `packscope --service`: read from its INI file (--config,
// keys at the top, no sections, comments after '#' or ';'), with the
// command line laid over them.
// The password and the user come from the file only: a command line is
// seen by every user of the machine.
struct ServiceConfig
{
    QString port;
    int baud = 115200;
    QVector<quint8> addresses{1};
    int pollMs = 1000;
    QString dataDir;        // empty: the usual choice (AppInfo::dataFolder)
    QString mqttUrl;        // empty: nothing is published
    QString mqttUser;
    QString mqttPassword;
    QString mqttCaFile;
    QString serviceId;      // empty: defaultServiceId()

    // The keys a file may hold.
    static const QStringList &keys();
    // "packscope-<host name>".
    static QString defaultServiceId();

    // Reads `file`. A file that cannot be read, a key not in keys() and a
    // value its key cannot take are refused with one line naming the file
    // and the key ("/etc/packscope/packscope.conf: unknown key 'prot'").
    Result read(const QString &file);
    // The command line over what was read, then what needs both: a port,
    // a broker URL that parses, its CA file. Refused with one line.
    Result apply(const Options &options);
};
