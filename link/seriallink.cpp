#include "link/seriallink.h"

#include "protocol/crc16.h"
#include "protocol/frames.h"
#include "model/livedata.h"

#include <QTimer>

namespace {
// How often a lost port is looked for.
constexpr int WatchMs = 1000;
// What a turn leaves a pack beyond the time its answers took (from the
// request to the answer's last byte), and the longest turn a slow pack can
// ask for.
constexpr int SlowMarginMs = 15;
constexpr int MaxTurnMs = 1000;
} // namespace

SerialLink::SerialLink(LinkPort *port, QObject *parent)
    : QObject(parent), m_port(port ? port : new SerialLinkPort)
{
    m_port->setParent(this);
    m_elapsed.start();
    m_clock = [this] { return m_elapsed.elapsed(); };
    m_image = [](quint8) -> BmsLiveData & { return liveData(); };

    m_pollTimer = new QTimer(this);
    // The turns keep a timetable to the millisecond (see TurnTimetable): a
    // coarse timer may fire up to 5 % early.
    m_pollTimer->setTimerType(Qt::PreciseTimer);
    m_pollTimer->setSingleShot(true);
    m_frameTimer = new QTimer(this);
    // The end of a frame is 20 ms of silence: a coarse timer may fire early.
    m_frameTimer->setTimerType(Qt::PreciseTimer);
    m_frameTimer->setSingleShot(true);
    m_watchTimer = new QTimer(this);
    m_soonTimer = new QTimer(this);
    m_soonTimer->setTimerType(Qt::PreciseTimer);
    m_soonTimer->setSingleShot(true);

    connect(m_pollTimer, &QTimer::timeout, this, &SerialLink::vsSerialSend);
    connect(m_frameTimer, &QTimer::timeout, this, &SerialLink::onFrameTimeout);
    connect(m_watchTimer, &QTimer::timeout, this, &SerialLink::tryReconnect);
    connect(m_soonTimer, &QTimer::timeout, this, [this] {
        if (m_state != Monitoring || !m_inFlight.isEmpty())
            return;
        // With several packs the selected pack's quick frames (a write at
        // the fast pace, a record walk) give way to the regular turns when
        // one is due, so that the other packs are still sampled once a
        // cycle; the quick frames go on after that turn's answer.
        if (m_packs.size() > 1 && m_clock() - m_lastRegularMs >= turnMs()) {
            m_soonAfterTurn = true;
            vsSerialSend();
            return;
        }
        pollSelected();
    });
    connect(m_port, &LinkPort::readyRead, this, &SerialLink::vsSerialRead);
    // Handled after the port's own notification has returned: the port is
    // closed in response, which must not happen inside its signal.
    connect(m_port, &LinkPort::failed, this, &SerialLink::onPortFailed, Qt::QueuedConnection);
}

void SerialLink::setPollInterval(int ms)
{
    m_pollMs = qMax(1, ms);
    if (m_pollTimer->isActive())
        startTurnTimer(m_clock() + turnMs());
}

void SerialLink::setAddresses(const QVector<quint8> &addresses)
{
    if (addresses.isEmpty())
        return;
    m_packs.clear();
    for (const quint8 address : addresses)
        m_packs.append(Pack{address, 0});
    if (!addresses.contains(m_selected))
        m_selected = addresses.first();
    m_turn = 0;
    m_inFlightPack = -1;
}

QVector<quint8> SerialLink::addresses() const
{
    QVector<quint8> list;
    for (const Pack &pack : m_packs)
        list.append(pack.address);
    return list;
}

void SerialLink::selectAddress(quint8 address)
{
    for (const Pack &pack : qAsConst(m_packs)) {
        if (pack.address == address)
            m_selected = address;
    }
}

int SerialLink::selectedIndex() const
{
    for (int i = 0; i < m_packs.size(); ++i) {
        if (m_packs[i].address == m_selected)
            return i;
    }
    return 0;
}

quint8 SerialLink::unansweredCount() const { return m_packs[selectedIndex()].unanswered; }

int SerialLink::turnMs() const
{
    const int turn = ::turnMs(m_pollMs, m_packs.size(), m_baud);
    // A pack seen answering after its turn had ended gets the time it took.
    return m_packs.size() > 1 ? qMax(turn, m_slowestMs) : turn;
}

void SerialLink::resetCounters()
{
    m_counters = LinkCounters{};
    emit countersChanged();
}

void SerialLink::resetReceive()
{
    m_frameTimer->stop();
    m_gate.reset();
    m_rxBuffer.clear();
    m_inFlight.clear();
    m_inFlightPack = -1;
}

void SerialLink::beginMonitoring()
{
    resetReceive();
    for (Pack &pack : m_packs) {
        m_image(pack.address).nextRequest = IdentityRead;
        pack.unanswered = 0;
    }
    m_turn = 0;
    m_soonAfterTurn = false;
    m_state = Monitoring;
    // The first request goes out one turn from now.
    startTurnTimer(m_clock() + turnMs());
}

bool SerialLink::writeRequest(const QByteArray &frame)
{
    if (!m_port->write(frame))
        return false;
    m_inFlight = frame;
    m_inFlightPack = -1;
    ++m_counters.sent;
    emit frameSent(frame);
    return true;
}

bool SerialLink::openPort()
{
    if (m_port->open(m_portName, m_baud)) {
        m_error.clear();
        return true;
    }
    m_error = m_port->errorString();
    return false;
}

Result SerialLink::start()
{
    m_slowestMs = 0;
    m_slowest.reset(m_clock());
    m_lastSent = m_previousSent = Sent();
    m_port->close();
    m_watchTimer->stop();
    if (!openPort())
        return Result::failure(m_error);
    beginMonitoring();
    return Result();
}

bool SerialLink::holdForAnswer()
{
    m_pollTimer->stop();
    m_soonTimer->stop();
    return m_state == Monitoring && !m_inFlight.isEmpty();
}

void SerialLink::stop()
{
    m_port->close();
    m_pollTimer->stop();
    m_watchTimer->stop();
    m_soonTimer->stop();
    resetReceive();
    m_state = Idle;
}

Result SerialLink::sendCommand(QByteArray frame)
{
    m_port->close();
    resetReceive();
    if (!openPort())
        return Result::failure(m_error);
    sealFrame(frame);
    if (!writeRequest(frame)) {
        m_error = m_port->errorString();
        return Result::failure(m_error);
    }
    emit countersChanged();
    return Result();
}

void SerialLink::pollSoon(int delayMs)
{
    if (m_state != Monitoring)
        return;
    m_soonDelayMs = qMax(0, delayMs);
    m_soonTimer->start(m_soonDelayMs);
}

void SerialLink::vsSerialSend()
{
    if (m_state != Monitoring)
        return;
    const int index = m_turn % m_packs.size();
    m_turn = (index + 1) % m_packs.size();
    const qint64 now = m_clock();
    m_lastRegularMs = now;
    const qint64 due = m_timetable.next(now, turnLengthMs(turnMs(), m_pollMs, m_packs.size(), index), answerTimeMs());
    poll(index);
    if (m_state == Monitoring)
        armTurnTimer(due);
}

void SerialLink::startTurnTimer(qint64 dueMs)
{
    m_timetable.setDue(dueMs);
    armTurnTimer(dueMs);
}

void SerialLink::armTurnTimer(qint64 dueMs)
{
    m_pollTimer->start(int(qBound<qint64>(0, dueMs - m_clock(), 3600000)));
}

int SerialLink::answerTimeMs() const
{
    // One pack polled faster than that (a test rig) has its whole period.
    return m_packs.size() > 1 ? qMax(minTurnMs(m_baud), m_slowestMs) : qMin(minTurnMs(m_baud), m_pollMs);
}

void SerialLink::pollSelected()
{
    if (m_state != Monitoring)
        return;
    // The regular tick starts its turn again from this request, so that it
    // never sends while this answer is on its way.
    startTurnTimer(m_clock() + turnMs());
    poll(selectedIndex());
}

void SerialLink::poll(int index)
{
    if (!m_inFlight.isEmpty()) {
        // The window may have been busy for a whole period (a first sort of
        // a large table): the answer can be waiting on the port, or held
        // complete without its silence measured yet. It is judged now, so
        // that it is not counted unanswered and run into the next answer.
        m_port->pull();
        if (!m_rxBuffer.isEmpty())
            takeHeld(false);
    }
    Pack &pack = m_packs[index];
    // Writes and record reads are the selected pack's; the others are only
    // ever read.
    const bool selected = pack.address == m_selected;
    BmsLiveData &live = m_image(pack.address);
    const TickDecision d = decideTick(live, pack.unanswered, pack.address,
                                      selected && m_writeFrame ? m_writeFrame() : QByteArray(),
                                      selected && m_recordFrame ? m_recordFrame() : QByteArray());
    if (d.action == TickDecision::Nothing)
        return;
    if (!m_inFlight.isEmpty()) {
        ++m_counters.noAnswer;
        m_inFlight.clear();
        m_inFlightPack = -1;
    }
    switch (d.action) {
    case TickDecision::GoOffline:
        emit wentOffline(pack.address);
        break;
    case TickDecision::AbandonWrite:
        emit writeAbandoned();
        break;
    case TickDecision::Send:
        // The turn that follows leaves the answer its time (see
        // TurnTimetable), even after a tick that came late.
        sendFrame(d.frame, index);
        break;
    case TickDecision::Nothing:
        break;
    }
    emit countersChanged();
}

void SerialLink::sendFrame(const QByteArray &frame, int packIndex)
{
    // Not on the line, so not logged as sent; a broken port is closed.
    if (!writeRequest(frame)) {
        onPortFailed(m_port->errorString());
        return;
    }
    m_inFlightPack = packIndex;
    m_previousSent = m_lastSent;
    m_lastSent = Sent{quint8(frame[0]), m_clock()};
}

void SerialLink::vsSerialRead()
{
    const QByteArray data = m_port->readAll();
    if (data.isEmpty())
        return;
    const qint64 now = m_clock();
    // A silence of 20 ms that the timer has not been delivered for yet (a
    // busy event loop) still ends the bytes held before these.
    if (m_gate.expired(now))
        onFrameTimeout();
    m_gate.arrival(now);
    m_rxBuffer.write(reinterpret_cast<const quint8 *>(data.constData()), quint32(data.size()));
    m_frameTimer->start(m_gate.silenceMs());
}

void SerialLink::onFrameTimeout()
{
    if (m_dispatching) {
        // Reached from inside a dispatch (something ran an event loop):
        // these bytes wait until the answer before them has been handled.
        m_frameTimer->start(1);
        return;
    }
    const qint64 now = m_clock();
    if (m_gate.pending() && !m_gate.expired(now)) {
        m_frameTimer->start(std::max(1, m_gate.remaining(now)));
        return;
    }
    takeHeld(true);
}

void SerialLink::takeHeld(bool silenceSeen)
{
    if (m_dispatching)
        return;
    QByteArray held(int(m_rxBuffer.available()), '\0');
    held.resize(int(m_rxBuffer.read(reinterpret_cast<quint8 *>(held.data()), quint32(held.size()))));
    // The answer expected comes from the pack asked last.
    const quint8 from = m_inFlightPack >= 0 ? m_packs[m_inFlightPack].address : m_selected;
    const bool complete = Frames::classifyBurst(held, from) == Frames::Burst::Complete;
    if (!silenceSeen && !complete) {
        // Without the silence only a whole answer is taken; a part of one
        // goes back and waits for the rest.
        m_rxBuffer.write(reinterpret_cast<const quint8 *>(held.constData()), quint32(held.size()));
        return;
    }
    // Everything is out of the buffer before anything is dispatched:
    // whatever runs during the dispatch must never see these bytes again.
    m_frameTimer->stop();
    m_heldEndMs = m_gate.lastArrival();
    m_gate.reset();
    m_rxBuffer.clear();
    if (complete) {
        takeFrame(held);
    } else if (!held.isEmpty()) {
        noteLateAnswer(held);
        ++m_counters.dropped;
        emit countersChanged();
    }
    emit frameTimerExpired();
}

void SerialLink::noteLateAnswer(const QByteArray &bytes)
{
    // The pack asked the turn before answering only now: later turns leave
    // it the time it took (and a little more), up to a second, so that a
    // slow pack does not answer into its neighbour's turn.
    if (m_packs.size() < 2 || m_previousSent.address == 0
        || Frames::classifyBurst(bytes, m_previousSent.address) != Frames::Burst::Complete
        || Frames::checkAnswer(bytes) != Frames::Check::Ok)
        return;
    noteAnswerTime(m_previousSent.ms);
}

void SerialLink::noteAnswerTime(qint64 sentMs)
{
    if (m_packs.size() < 2)
        return;
    const qint64 now = m_clock();
    m_slowest.note(now, int(qMin<qint64>(m_heldEndMs - sentMs + SlowMarginMs, MaxTurnMs)));
    const int slowest = m_slowest.ms(now);
    if (slowest == m_slowestMs)
        return;
    const int before = turnMs();
    m_slowestMs = slowest;
    if (turnMs() != before)
        emit turnChanged(turnMs());
}

void SerialLink::takeFrame(const QByteArray &bytes)
{
    emit frameTaken(bytes);
    if (Frames::checkAnswer(bytes) != Frames::Check::Ok) {
        ++m_counters.crcErrors;
        emit countersChanged();
        return;
    }
    const Frames::Reply reply =
        m_inFlight.isEmpty() ? Frames::Reply::Unrelated : Frames::replyTo(bytes, m_inFlight);
    if (reply == Frames::Reply::Unrelated) {
        // Late, doubled or nobody's: logged above, goes no further.
        ++m_counters.dropped;
        emit countersChanged();
        return;
    }
    const bool refusedWrite = reply == Frames::Reply::Refusal && Frames::functionCode(m_inFlight) == Frames::WriteMultiple;
    if (reply == Frames::Reply::Refusal) {
        ++m_counters.exceptions;
        if (!refusedWrite) {
            // A refused read is as good as no answer: it counts towards the
            // five that take the link offline, and nothing is dispatched.
            m_inFlight.clear();
            m_inFlightPack = -1;
            emit countersChanged();
            emit readRefused(quint8(Frames::functionCode(bytes) & 0x7F), quint8(bytes[2]));
            return;
        }
    } else {
        ++m_counters.taken;
    }
    // Every answer's time keeps the turns as long as a slow pack needs.
    noteAnswerTime(m_lastSent.ms);
    // An answer proves the BMS alive; a refused write ends its sequence in
    // the dispatcher.
    if (m_inFlightPack >= 0 && m_inFlightPack < m_packs.size())
        m_packs[m_inFlightPack].unanswered = 0;
    m_answered = m_inFlight;
    m_inFlight.clear();
    const bool resumeQuick = m_soonAfterTurn;
    m_soonAfterTurn = false;
    m_inFlightPack = -1;
    emit countersChanged();
    m_dispatching = true;
    emit answerReceived(bytes);
    m_dispatching = false;
    // The regular turn that came between the selected pack's quick frames
    // is answered: they go on.
    if (resumeQuick && m_state == Monitoring && !m_soonTimer->isActive())
        m_soonTimer->start(m_soonDelayMs);
}

void SerialLink::onPortFailed(const QString &reason)
{
    if (!m_port->isOpen() && m_state != Monitoring)
        return; // already dealt with
    const State was = m_state;
    m_port->close();
    m_pollTimer->stop();
    m_soonTimer->stop();
    resetReceive();
    m_error = reason;
    const bool watch = was == Monitoring && m_autoReconnect;
    m_state = watch ? Waiting : Idle;
    if (watch)
        m_watchTimer->start(WatchMs);
    emit portLost(m_portName, reason, watch);
}

void SerialLink::tryReconnect()
{
    if (m_state != Waiting) {
        m_watchTimer->stop();
        return;
    }
    if (!m_port->isPresent(m_portName) || !openPort())
        return;
    m_watchTimer->stop();
    beginMonitoring();
    emit portRecovered(m_portName);
}
