// The link: the poll tick, the silence gate, the ring buffer, and a port the
// test plays (failed writes, unplugging, late and nested answers).
#include "link/linkport.h"
#include "link/polling.h"
#include "link/ringbuffer.h"
#include "link/seriallink.h"
#include "support/fakelinkport.h"
#include "support/helpers.h"

#include <QSignalSpy>
#include <QtTest>
#include <numeric>
#include <vector>

namespace {
const QByteArray IdentityRequest = hex("010300690017D5D8");
const QByteArray Identity = sealed(hex("01032E" + QByteArray(92, '0')));
} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

    FakeLinkPort *port = nullptr;
    std::unique_ptr<SerialLink> link;

    void startLink(int pollMs = 30)
    {
        port = new FakeLinkPort;
        link = std::make_unique<SerialLink>(port);
        link->setPortName(QStringLiteral("ttyFAKE0"));
        link->setPollInterval(30);
        QVERIFY(link->start().ok());
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);
        link->setPollInterval(pollMs);
    }

private slots:
    void init() { liveData() = BmsLiveData{}; }
    void cleanup() { link.reset(); }

    // Ticks with no answer: each sends `frame` until five requests (three
    // writes) went unanswered; the next tick gives up and the one after sends `then`.
    void tickSequence_data()
    {
        columns<int, int, int, QByteArray, int, int, QByteArray>("next", "leftover", "address", "frame", "sends",
                                                                  "end", "then");
        const int offline = TickDecision::GoOffline, abandon = TickDecision::AbandonWrite;
        const QByteArray monitor = hex("01030000002705D0");
        QTest::newRow("identity") << int(IdentityRead) << 0 << 1 << IdentityRequest << 5 << offline << IdentityRequest;
        QTest::newRow("monitoring, 2 left over") << int(MonitorRead) << 2 << 1 << monitor << 3 << offline
                                                 << IdentityRequest;
        QTest::newRow("record 7, address 5") << int(DatalogRead) << 0 << 5 << hex("050302C0001C4403") << 5 << offline
                                             << hex("050300690017D45C");
        QTest::newRow("write, address 5") << int(ParameterWrite) << 0 << 5 << hex("051000430001020CE49F28") << 3
                                          << abandon << hex("0503000000270454");
        QTest::newRow("write, 2 left over") << int(ParameterWrite) << 2 << 1 << hex("011000430001020CE4ADE8") << 1
                                            << abandon << monitor;
        QTest::newRow("write, silence first") << int(ParameterWrite) << 5 << 1 << QByteArray() << 0 << offline
                                              << IdentityRequest;
    }
    void tickSequence()
    {
        QFETCH(int, next);
        QFETCH(int, leftover);
        QFETCH(int, address);
        QFETCH(int, sends);
        BmsLiveData live;
        live.nextRequest = quint16(next);
        live.requestKind = 9; // whatever the last read was
        quint8 unanswered = quint8(leftover);
        // The pages' prepared frames: register 67 = 3300 without its CRC, record 7.
        const QByteArray write = hex("011000430001020CE40000"), record = hex("010302C0001C4587");
        auto tick = [&] { return decideTick(live, unanswered, quint8(address), write, record); };
        for (int i = 1; i <= sends; ++i) {
            const TickDecision d = tick();
            QCOMPARE(d.action, TickDecision::Send);
            QTEST(d.frame, "frame");
            QCOMPARE(int(unanswered), leftover + i);
            QCOMPARE(int(live.requestKind), next == ParameterWrite ? 9 : next); // a write is no read
            QCOMPARE(int(live.nextRequest), next); // answers move the sequence on, not ticks
        }
        const TickDecision end = tick();
        QTEST(int(end.action), "end");
        QVERIFY(end.frame.isEmpty() && unanswered == 0);
        QTEST(tick().frame, "then");
    }

    // An answer ends after 20 ms of silence, counted from its latest byte.
    void silenceBoundary()
    {
        for (const qint64 t : {qint64(0), qint64(1'700'000'000'123)}) {
            SilenceGate gate;
            QVERIFY(!gate.expired(t) && gate.remaining(t) == 0 && !gate.arrival(t)); // idle
            QCOMPARE(gate.remaining(t + 5), 15);
            QVERIFY(!gate.expired(t + 19) && !gate.arrival(t + 19)); // 19 ms: the same answer
            QVERIFY(gate.expired(t + 39) && gate.arrival(t + 39)); // 20 ms: a new one
            QCOMPARE(gate.remaining(t + 58), 1);
            gate.reset();
            QVERIFY(!gate.pending() && !gate.arrival(t + 100));
        }
    }

    // An hour at the pace users run (16 packs, 1 s, 115200 baud: turns of 62 or 63 ms) holds 3,600 turns of each
    // pack whether each tick comes on time, a few ms late or a ms early. One pack keeps its second; 5 packs at
    // 9600 baud stretch to turns of 244 ms.
    void turnTimetable_data()
    {
        columns<int, int, int, int, int>("packs", "baud", "jitter", "spanMs", "turns");
        QTest::newRow("16 packs on time") << 16 << 115200 << 0 << 3600000 << 57600;
        QTest::newRow("16 packs, ticks 0-9 ms late") << 16 << 115200 << 9 << 3600000 << 57600;
        QTest::newRow("16 packs, ticks 1 ms early") << 16 << 115200 << -1 << 3600000 << 57600;
        QTest::newRow("3 packs, ticks 0-4 ms late") << 3 << 115200 << 4 << 3600000 << 10800;
        QTest::newRow("one pack, ticks 0-9 ms late") << 1 << 115200 << 9 << 3600000 << 3600;
        QTest::newRow("5 packs at 9600, stretched") << 5 << 9600 << 0 << 100 * 244 << 100;
    }
    void turnTimetable()
    {
        QFETCH(int, packs);
        QFETCH(int, baud);
        QFETCH(int, jitter);
        QFETCH(int, spanMs);
        const int turn = turnMs(1000, packs, baud);
        TurnTimetable timetable;
        timetable.setDue(0);
        qint64 due = 0;
        int turns = 0;
        while (due < spanMs) {
            const int late = jitter < 0 ? jitter : (turns * 7) % (jitter + 1);
            due = timetable.next(due + late, turnLengthMs(turn, 1000, packs, turns), minTurnMs(baud));
            ++turns;
        }
        QTEST(turns, "turns");
    }

    // The turns follow the slowest answer of the last five to ten minutes: a pack always slow keeps its time, one
    // slow answer (a pack busy writing its parameters) is forgotten, sampled at the 1 s pace over 20 minutes.
    void slowestAnswerAges_data()
    {
        columns<int, int, int, int>("first", "steady", "at10min", "at20min");
        QTest::newRow("one slow answer, then quick ones") << 300 << 40 << 40 << 40;
        QTest::newRow("a pack always slow") << 102 << 102 << 102 << 102;
        QTest::newRow("quick from the start") << 40 << 40 << 40 << 40;
    }
    void slowestAnswerAges()
    {
        QFETCH(int, first);
        QFETCH(int, steady);
        SlowestAnswer slowest;
        slowest.reset(0);
        slowest.note(1000, first);
        QCOMPARE(slowest.ms(1000), first);
        QMap<int, int> seen;
        for (qint64 t = 2000; t <= 20 * 60000; t += 1000) {
            slowest.note(t, steady);
            if (t % (10 * 60000) == 0)
                seen[int(t / 60000)] = slowest.ms(t);
        }
        QTEST(seen.value(10), "at10min");
        QTEST(seen.value(20), "at20min");
        QCOMPARE(slowest.ms(20 * 60000 + 2 * SlowestAnswer::WindowMs), 0); // a silent line forgets it all
    }

    // A tick late by more than a turn (the window was busy) starts the timetable again from then; after a tick
    // late by less, the next turns still leave each answer its 57 ms and catch up with the timetable.
    void turnTimetableAfterDelays()
    {
        TurnTimetable timetable;
        timetable.setDue(1000);
        QCOMPARE(timetable.next(1000, 62, 57), qint64(1062));
        QCOMPARE(timetable.next(1062 + 500, 63, 57), qint64(1562 + 63));
        QCOMPARE(timetable.next(1625 + 50, 62, 57), qint64(1675 + 57));
        QCOMPARE(timetable.next(1732, 63, 57), qint64(1789)); // catching up with the timetable (1750)
        QCOMPARE(timetable.next(1789, 62, 57), qint64(1846));
        QCOMPARE(timetable.next(1700, 62, 57), qint64(1762)); // called early, by hand: from then
    }

    // Full at exactly its capacity, a write beyond it takes what fits, and
    // bytes come out in order across the end of the storage.
    void ringBuffer()
    {
        RingBuffer rb(300);
        std::vector<quint8> out(300), bytes(400);
        std::iota(bytes.begin(), bytes.end(), quint8(0));
        QCOMPARE(rb.write(bytes.data(), 290), 290u);
        QCOMPARE(rb.read(out.data(), 290), 290u);
        QVERIFY(rb.isEmpty() && std::equal(out.begin(), out.begin() + 290, bytes.begin()));
        QVERIFY(rb.write(bytes.data(), 20) == 20 && rb.writePosition() == 10); // across the end
        QCOMPARE(rb.write(bytes.data() + 20, 300), 280u);
        QVERIFY(rb.isFull() && rb.write(bytes.data(), 1) == 0);
        QCOMPARE(rb.read(out.data(), 0), 0u);
        QVERIFY(rb.read(out.data(), 4) == 4 && rb.available() == 296);
        QCOMPARE(rb.read(out.data() + 4, 300), 296u);
        QVERIFY(std::equal(out.begin(), out.end(), bytes.begin()) && rb.isEmpty());
        rb.write(bytes.data(), 120);
        rb.clear();
        QVERIFY(rb.isEmpty() && rb.readPosition() + rb.writePosition() == 0);
        QCOMPARE(rb.write(bytes.data(), 300), 300u);
    }

    // A lost port is closed and watched; monitoring resumes once it opens again.
    // The kind of a port failure leads; errno's "Unknown error" adds nothing.
    void failureReason_data()
    {
        columns<int, QString, QString>("error", "system", "reason");
        QTest::newRow("unplugged, no errno") << int(QSerialPort::ResourceError) << "Unknown error"
                                             << "device removed or no longer available";
        QTest::newRow("read, with errno") << int(QSerialPort::ReadError) << "Input/output error"
                                          << "read failed (Input/output error)";
        QTest::newRow("permission, empty") << int(QSerialPort::PermissionError) << "" << "permission denied";
        QTest::newRow("not fatal") << int(QSerialPort::TimeoutError) << "Operation timed out" << "Operation timed out";
    }
    void failureReason()
    {
        QFETCH(int, error);
        QFETCH(QString, system);
        QTEST(SerialLinkPort::failureReason(QSerialPort::SerialPortError(error), system), "reason");
    }

    void failedWriteClosesAndRecovers_data()
    {
        columns<bool>("byWrite");
        QTest::newRow("write refused") << true;
        QTest::newRow("device gone") << false;
    }
    void failedWriteClosesAndRecovers()
    {
        QFETCH(bool, byWrite);
        startLink();
        QSignalSpy sent(link.get(), &SerialLink::frameSent);
        QSignalSpy lost(link.get(), &SerialLink::portLost);
        QSignalSpy back(link.get(), &SerialLink::portRecovered);
        port->present = false;
        if (byWrite)
            port->writeOk = false;
        else // reported twice before the link got to it
            port->breakDown(), port->breakDown();
        QTRY_COMPARE(lost.size(), 1);
        QCOMPARE(lost.at(0), QVariantList({"ttyFAKE0", "Input/output error", true})); // port, reason, reconnecting
        QVERIFY(!port->isOpen() && link->isMonitoring() && link->isWaitingForPort());
        const int sentBefore = sent.size();
        QTest::qWait(200); // nothing is tried while the device is absent
        QVERIFY(sent.size() == sentBefore && lost.size() == 1);

        port->writeOk = port->present = true;
        QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 10000);
        port->written.clear();
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);

        // Without reconnecting, a lost port ends monitoring.
        link->setAutoReconnect(false);
        port->breakDown();
        QTRY_COMPARE(lost.size(), 2);
        QVERIFY(!lost.at(1).at(2).toBool() && !link->isMonitoring());
    }

    // An answer is dispatched once; a late one, with nothing in flight, is dropped.
    void lateAndDoubledAnswers()
    {
        startLink(100000); // no further ticks
        QSignalSpy answers(link.get(), &SerialLink::answerReceived);
        port->feed(Identity);
        QTRY_COMPARE(answers.size(), 1);
        QVERIFY(link->unansweredCount() == 0 && link->requestInFlight().isEmpty());
        port->feed(Identity);
        QTRY_COMPARE(link->counters().dropped, quint64(1));
        QVERIFY(answers.size() == 1 && link->counters().taken == 1);

        // A busy window: an answer still waiting at the next tick is taken
        // before the tick counts its request unanswered.
        link->vsSerialSend();
        port->feedQuietly(Identity);
        link->vsSerialSend();
        QVERIFY(answers.size() == 2 && link->counters().noAnswer == 0);
        QCOMPARE(link->requestInFlight(), IdentityRequest);
        port->feedQuietly(Identity.left(20)); // half an answer waits for its rest
        link->vsSerialSend();
        QVERIFY(answers.size() == 2 && link->counters().noAnswer == 1);
    }

    // A listener running an event loop in the dispatch (a modal box) gets
    // no answer nested inside the current one.
    void noDispatchInsideADispatch()
    {
        startLink(100000);
        int depth = 0, maxDepth = 0, taken = 0, takenInside = 0;
        connect(link.get(), &SerialLink::frameTaken, [&] { ++taken, takenInside += depth; });
        connect(link.get(), &SerialLink::answerReceived, [&] {
            maxDepth = qMax(maxDepth, ++depth);
            if (taken == 1) {
                link->vsSerialSend();
                port->feed(Identity);
                QTest::qWait(150);
            }
            --depth;
        });
        port->feed(Identity);
        QTRY_COMPARE(taken, 2);
        QTRY_COMPARE(link->counters().taken, quint64(2));
        QVERIFY(maxDepth == 1 && takenInside == 0);
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
