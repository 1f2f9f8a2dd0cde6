#pragma once

#include "model/result.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

class LinkPort;
class QTimer;

// Finds the packs on one RS485 line: the identity read goes to each ID of a
// range in turn, and an ID is given a short time to answer, scaled to the
// baud rate (the request and the 51-byte answer on the wire, and the
// pack's own delay). Packs of this kind sit in parallel in racks, each with
// an ID of its own; a scan lists them by ID, model, version and serial.
class BusScanner : public QObject
{
    Q_OBJECT
public:
    struct Pack
    {
        int id = 0;
        QString model, version, serial;
    };

    // Takes ownership of `port`; null makes a serial port.
    explicit BusScanner(LinkPort *port = nullptr, QObject *parent = nullptr);

    // How long an ID is given to answer at `baud`, in milliseconds.
    static int timeoutMs(int baud);

    // Opens `portName` at `baud` and asks IDs first..last; a failure says
    // why the port cannot be opened.
    Result start(const QString &portName, int baud, int first, int last);
    void stop();
    bool isRunning() const { return m_running; }
    // After finished(): a failure when the port was lost on the way.
    const Result &result() const { return m_result; }
    const QVector<Pack> &found() const { return m_found; }

signals:
    // ID `id` was asked; `pack` is set when it answered.
    void asked(int id, const BusScanner::Pack *pack);
    void finished();

private:
    void askNext();
    void bytesArrived();
    void giveUp();
    void failed(const QString &reason);

    LinkPort *m_port;
    QTimer *m_timer;
    QByteArray m_held;
    QVector<Pack> m_found;
    Result m_result;
    int m_next = 0, m_last = 0, m_current = 0;
    int m_timeoutMs = 0;
    bool m_running = false;
};
