#pragma once

#include "link/seriallink.h"
#include "session/addresscommander.h"
#include "session/datalogreader.h"
#include "session/parameterwriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <functional>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

// The conversation with the packs of one line, without a window: it owns the serial link,
// the parameter writer and what the next tick asks for, takes every answer
// the link hands over and says what it meant. The register image it fills
// is the live data block. Pages and command-line jobs call it and show what
// it says; none of them touches the port or decides what a tick sends.
//
// One answer is dispatched per request, in this order of effects: the
// registers are stored, the next request is chosen, then the signal goes
// out, so that a listener that asks for something else (a write after the
// parameters came in) is not overruled.
class BmsSession : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of `port`; null makes a serial port.
    explicit BmsSession(LinkPort *port = nullptr, QObject *parent = nullptr);

    SerialLink *link() const { return m_link; }
    ParameterWriter *writer() const { return m_writer; }
    DatalogReader *datalog() const { return m_datalog; }
    AddressCommander *commands() const { return m_commands; }

    // The packs polled in turn (set before start()); the selected one stays
    // selected if it is in the list, otherwise the first is.
    void setAddresses(const QVector<quint8> &ids);
    QVector<quint8> addresses() const { return m_link->addresses(); }
    quint8 selectedPack() const { return m_link->address(); }
    // Makes `id` the pack the pages show and act on. Refused (false) while a
    // write or a record read runs, and for an ID not in the list.
    bool selectPack(quint8 id);
    // A pack's register image as last read (the live data block for the
    // selected pack).
    const BmsLiveData &packData(quint8 id) const;
    // Answered its identity read and not fallen silent since.
    bool isPackOnline(quint8 id) const { return id < m_online.size() && m_online[id]; }
    // Another online pack that reports the same serial as `id` (0: none).
    // Rows of the history, and topics of a broker, are told apart by the
    // serial: two packs with one serial (a copied configuration, a slave
    // that serves one image under every ID) mix there.
    quint8 packSharingSerial(quint8 id) const;
    // The time a cycle over every pack takes, and whether that is longer
    // than the poll period (the line cannot carry more).
    int cycleMs() const { return m_link->cycleMs(); }
    bool isCycleStretched() const { return m_link->addresses().size() > 1 && m_link->cycleMs() > m_link->pollInterval(); }
    // Stretched because a pack answers slowly rather than by the line.
    bool isCycleSlowedByPack() const { return m_link->turnsFitSlowPack(); }

    // Opens the link's port and polls from the identity read; a failure
    // says why the port cannot be opened.
    Result start();
    // Closes the port. A running write must have been ended first, with
    // the words its report is to carry (the session speaks no language).
    void stop();
    // Stops once the answer to the request in flight is in (and dispatched:
    // its sample stored) or could no longer come, then calls `stopped`. A
    // service stopped by the system loses no sample that was on its way.
    void stopAfterAnswer(std::function<void()> stopped);
    // From start() to stop(), also while a lost port is watched.
    bool isMonitoring() const { return m_monitoring; }

    // Asks for the parameter registers 45..135 on the next tick (at once at
    // the fast pace). Ignored while a write sequence runs.
    void readParameters(bool soon = false);
    // The PC's clock that stamps each sample ("yyyy-MM-dd hh:mm:ss", local
    // time, read when the sample is in); tests put a clock of their own.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    QString sampleTime() const;

    // One extra tick after the line's gap (3.5 characters at the baud rate).
    void pollAfterGap();
    // Sends one of the pack's own address and protocol commands (the
    // commander does): commandSending() first, so that monitoring is
    // stopped and the link set up, then the port is reopened.
    Result sendCommand(const QByteArray &frame);

signals:
    // The pack answered the identity read: the link is up.
    void online();
    // A monitoring answer is in the register image.
    void sampleRead();
    // The parameter registers are in the register image.
    void parametersRead();
    // A command is about to go out: whoever monitors stops, the link's port
    // and baud rate are set.
    void commandSending();
    // Five requests in a row found no answer.
    void offline();
    // The port broke (watching: it is looked for and monitoring resumes).
    void portLost(const QString &portName, const QString &reason, bool watching);
    void portRecovered(const QString &portName);
    void readRefused(quint8 function, quint8 code);
    // The same per pack, every pack of the list (the selected one too).
    void packOnline(quint8 id);
    void packSampleRead(quint8 id);
    void packOffline(quint8 id);
    // A pack of the list has not answered once since monitoring started
    // (a wrong ID, a pack not connected); said once per start.
    void packNotAnswering(quint8 id);
    // Another pack is now the selected one: the pages show it.
    void packSelected(quint8 id);
    // The cycle over the packs got longer (a slow pack) or shorter again:
    // see cycleMs().
    void cycleChanged();
    // Every frame written to the line, every burst taken from it (before
    // its checks), the end of each burst, and the link's counters: for the
    // log and the status bar.
    void frameSent(const QByteArray &frame);
    void frameTaken(const QByteArray &bytes);
    void burstEnded();
    void countersChanged();

private:
    void dispatch(const QByteArray &frame);
    // The image a pack's answers go to.
    BmsLiveData &image(quint8 id);
    void setOnline(quint8 id, bool online);
    void allOffline();

    SerialLink *m_link;
    ParameterWriter *m_writer;
    DatalogReader *m_datalog;
    AddressCommander *m_commands;
    bool m_monitoring = false;
    // The images of the packs not selected, by ID (the selected pack's is
    // the live data block; its slot here is stale meanwhile).
    std::vector<std::unique_ptr<BmsLiveData>> m_images;
    QVector<bool> m_online;
    QVector<bool> m_answered; // answered since monitoring started, or said not to
    std::function<QDateTime()> m_clock;
};
