// The poll tick as a pure decision, and the silence that ends an answer.
#include "link/crc16.h"
#include "link/frames.h"
#include "link/polling.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// One monitoring run with a pack at the far end that answers when told to.
struct Link
{
    BmsLiveData live;
    quint8 unanswered = 0;
    quint8 address = 1;
    QByteArray writeFrame;
    QByteArray recordFrame;

    TickDecision tick() { return decideTick(live, unanswered, address, writeFrame, recordFrame); }
    // What the dispatcher does first with every accepted answer.
    void answer() { unanswered = 0; }
};

// The parameter page's prepared write of register 67 = 3300, still carrying
// address 1 and a CRC that is recomputed at send time.
QByteArray preparedWrite() { return hex("01100043000102 0CE4 0000"); }
} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void startSendsIdentityRead();
    void readKinds_data();
    void readKinds();
    void silentBmsGoesOfflineOnSixthTick();
    void lostWhileMonitoring();
    void leftoverCountShortensFirstRun_data();
    void leftoverCountShortensFirstRun();
    void answerAfterFourMissesKeepsOnline();
    void unacknowledgedWriteIsAbandoned();
    void leftoverCountShortensWrite();
    void silenceCheckComesBeforeWriteCheck();
    void acknowledgedWritesGoOn();
    void recordReadIsAddressed();
    void unknownRequestSendsNothing();

    void silenceBoundary_data();
    void silenceBoundary();
    void threeBurstsAreOneAnswer();
    void remainingAndReset();
};

void TestPolling::startSendsIdentityRead()
{
    Link link;
    const TickDecision d = link.tick();
    QCOMPARE(d.action, TickDecision::Send);
    QCOMPARE(d.frame, hex("0103006900 17D5D8"));
    QCOMPARE(link.live.requestKind, quint16(IdentityRead));
    QCOMPARE(link.live.nextRequest, quint16(IdentityRead));
    QCOMPARE(int(link.unanswered), 1);
}

void TestPolling::readKinds_data()
{
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("identity, address 1") << int(IdentityRead) << 1 << hex("0103006900 17D5D8");
    QTest::newRow("monitoring, address 1") << int(MonitorRead) << 1 << hex("01030000002705D0");
    QTest::newRow("parameters, address 1") << int(ParameterRead) << 1 << hex("0103002D005B9438");
    QTest::newRow("monitoring, address 5") << int(MonitorRead) << 5 << hex("05030000002704 54");
    QTest::newRow("identity, address 5") << int(IdentityRead) << 5 << Frames::identityRead(5);
    QTest::newRow("parameters, address 64") << int(ParameterRead) << 64 << Frames::parameterRead(64);
}

void TestPolling::readKinds()
{
    QFETCH(int, next);
    QFETCH(int, address);
    QFETCH(QByteArray, frame);
    Link link;
    link.address = quint8(address);
    link.live.nextRequest = quint16(next);
    link.live.requestKind = 9; // whatever the last read was
    const TickDecision d = link.tick();
    QCOMPARE(d.action, TickDecision::Send);
    QCOMPARE(Frames::hexText(d.frame), Frames::hexText(frame));
    QCOMPARE(quint8(d.frame[0]), quint8(address));
    QVERIFY(crcMatches(d.frame));
    QCOMPARE(link.live.requestKind, quint16(next));
    // The tick never moves the sequence on by itself; answers do.
    QCOMPARE(link.live.nextRequest, quint16(next));
}

void TestPolling::silentBmsGoesOfflineOnSixthTick()
{
    Link link;
    for (int second = 1; second <= 5; ++second) {
        const TickDecision d = link.tick();
        QCOMPARE(d.action, TickDecision::Send);
        QCOMPARE(d.frame, Frames::identityRead(1));
        QCOMPARE(int(link.unanswered), second);
    }
    const TickDecision offline = link.tick();
    QCOMPARE(offline.action, TickDecision::GoOffline);
    QVERIFY(offline.frame.isEmpty());
    QCOMPARE(link.live.nextRequest, quint16(IdentityRead));
    QCOMPARE(int(link.unanswered), 0);

    const TickDecision again = link.tick();
    QCOMPARE(again.action, TickDecision::Send);
    QCOMPARE(again.frame, Frames::identityRead(1));
    QCOMPARE(int(link.unanswered), 1);
}

void TestPolling::lostWhileMonitoring()
{
    Link link;
    link.live.nextRequest = MonitorRead;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(link.tick().action, TickDecision::Send);
    QCOMPARE(link.tick().action, TickDecision::GoOffline);
    QCOMPARE(link.live.nextRequest, quint16(IdentityRead));
    const TickDecision d = link.tick();
    QCOMPARE(d.frame, Frames::identityRead(1));
    QCOMPARE(link.live.requestKind, quint16(IdentityRead));
}

void TestPolling::leftoverCountShortensFirstRun_data()
{
    QTest::addColumn<int>("leftover");
    QTest::addColumn<int>("sends");
    QTest::newRow("0") << 0 << 5;
    QTest::newRow("2") << 2 << 3;
    QTest::newRow("4") << 4 << 1;
    QTest::newRow("5") << 5 << 0;
}

void TestPolling::leftoverCountShortensFirstRun()
{
    QFETCH(int, leftover);
    QFETCH(int, sends);
    Link link;
    link.unanswered = quint8(leftover);
    int sent = 0;
    TickDecision d;
    while ((d = link.tick()).action == TickDecision::Send)
        ++sent;
    QCOMPARE(d.action, TickDecision::GoOffline);
    QCOMPARE(sent, sends);
}

void TestPolling::answerAfterFourMissesKeepsOnline()
{
    Link link;
    link.live.nextRequest = MonitorRead;
    for (int tick = 1; tick <= 50; ++tick) {
        const TickDecision d = link.tick();
        QCOMPARE(d.action, TickDecision::Send);
        QVERIFY(link.unanswered <= 5);
        if (tick % 5 == 0) // the pack misses four and answers the fifth
            link.answer();
    }
    QCOMPARE(link.live.nextRequest, quint16(MonitorRead));
}

void TestPolling::unacknowledgedWriteIsAbandoned()
{
    Link link;
    link.live.requestKind = MonitorRead;
    link.live.nextRequest = ParameterWrite;
    link.live.writeRegister = 61;
    link.writeFrame = preparedWrite();
    link.address = 5;

    for (int i = 1; i <= 3; ++i) {
        const TickDecision d = link.tick();
        QCOMPARE(d.action, TickDecision::Send);
        QCOMPARE(d.frame.left(9), hex("05100043000102 0CE4"));
        QVERIFY(crcMatches(d.frame));
        // A write is no read: the dispatcher must still see the last read.
        QCOMPARE(link.live.requestKind, quint16(MonitorRead));
        QCOMPARE(int(link.unanswered), i);
    }
    const TickDecision fourth = link.tick();
    QCOMPARE(fourth.action, TickDecision::AbandonWrite);
    QVERIFY(fourth.frame.isEmpty());
    QCOMPARE(link.live.nextRequest, quint16(MonitorRead));
    QCOMPARE(int(link.unanswered), 0);

    const TickDecision fifth = link.tick();
    QCOMPARE(fifth.action, TickDecision::Send);
    QCOMPARE(fifth.frame, Frames::monitorRead(5));
    QCOMPARE(link.live.requestKind, quint16(MonitorRead));
    // The prepared frame itself is not changed by sending it.
    QCOMPARE(link.writeFrame, preparedWrite());
}

void TestPolling::leftoverCountShortensWrite()
{
    Link link;
    link.unanswered = 2;
    link.live.nextRequest = ParameterWrite;
    link.writeFrame = preparedWrite();
    QCOMPARE(link.tick().action, TickDecision::Send);
    QCOMPARE(link.tick().action, TickDecision::AbandonWrite);
}

void TestPolling::silenceCheckComesBeforeWriteCheck()
{
    Link link;
    link.unanswered = 5;
    link.live.nextRequest = ParameterWrite;
    link.writeFrame = preparedWrite();
    QCOMPARE(link.tick().action, TickDecision::GoOffline);
    QCOMPARE(link.live.nextRequest, quint16(IdentityRead));
    QCOMPARE(int(link.unanswered), 0);
}

void TestPolling::acknowledgedWritesGoOn()
{
    // Every acknowledgement resets the count, so a long chain of writes is
    // never abandoned while the pack keeps answering.
    Link link;
    link.live.requestKind = ParameterRead;
    link.live.nextRequest = ParameterWrite;
    link.writeFrame = preparedWrite();
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(link.tick().action, TickDecision::Send);
        if (i % 2 == 1)
            link.answer();
    }
    QCOMPARE(link.live.requestKind, quint16(ParameterRead));
}

void TestPolling::recordReadIsAddressed()
{
    Link link;
    link.live.requestKind = MonitorRead;
    link.live.nextRequest = DatalogRead;
    link.recordFrame = Frames::recordRead(1, 7);
    link.address = 5;
    const TickDecision d = link.tick();
    QCOMPARE(d.action, TickDecision::Send);
    QCOMPARE(d.frame, Frames::recordRead(5, 7));
    QCOMPARE(link.live.requestKind, quint16(DatalogRead));
    QCOMPARE(link.live.nextRequest, quint16(DatalogRead));
    QCOMPARE(link.recordFrame, Frames::recordRead(1, 7));
}

void TestPolling::unknownRequestSendsNothing()
{
    Link link;
    link.live.nextRequest = 9;
    link.live.requestKind = MonitorRead;
    link.unanswered = 2;
    const TickDecision d = link.tick();
    QCOMPARE(d.action, TickDecision::Nothing);
    QVERIFY(d.frame.isEmpty());
    QCOMPARE(link.live.requestKind, quint16(MonitorRead));
    QCOMPARE(int(link.unanswered), 2);
}

// --- Silence between answers -------------------------------------------------

void TestPolling::silenceBoundary_data()
{
    QTest::addColumn<qint64>("base");
    QTest::addColumn<int>("gap");
    QTest::addColumn<bool>("endsAnswer");
    for (const qint64 base : {qint64(0), qint64(1'700'000'000'123)}) {
        const QByteArray tag = base ? "late clock, " : "clock at 0, ";
        QTest::newRow(tag + "0 ms") << base << 0 << false;
        QTest::newRow(tag + "19 ms") << base << 19 << false;
        QTest::newRow(tag + "20 ms") << base << 20 << true;
        QTest::newRow(tag + "21 ms") << base << 21 << true;
        QTest::newRow(tag + "1000 ms") << base << 1000 << true;
    }
}

void TestPolling::silenceBoundary()
{
    QFETCH(qint64, base);
    QFETCH(int, gap);
    QFETCH(bool, endsAnswer);
    SilenceGate gate;
    QCOMPARE(gate.silenceMs(), 20);
    QVERIFY(!gate.arrival(base)); // nothing held before the first bytes
    QCOMPARE(gate.expired(base + gap), endsAnswer);
    QCOMPARE(gate.arrival(base + gap), endsAnswer);
    QVERIFY(gate.pending());
    // The silence is measured from the latest arrival.
    QVERIFY(!gate.expired(base + gap + 19));
    QVERIFY(gate.expired(base + gap + 20));
}

void TestPolling::threeBurstsAreOneAnswer()
{
    // An 83-byte answer in three bursts 5 ms apart is one answer, ended 20 ms
    // after the last burst.
    SilenceGate gate;
    QVERIFY(!gate.arrival(1000));
    QVERIFY(!gate.arrival(1005));
    QVERIFY(!gate.arrival(1010));
    QVERIFY(!gate.expired(1029));
    QCOMPARE(gate.remaining(1029), 1);
    QVERIFY(gate.expired(1030));
}

void TestPolling::remainingAndReset()
{
    SilenceGate gate;
    QVERIFY(!gate.pending());
    QVERIFY(!gate.expired(0));
    QVERIFY(!gate.expired(100000));
    QCOMPARE(gate.remaining(50), 0);

    gate.arrival(100);
    QCOMPARE(gate.remaining(100), 20);
    QCOMPARE(gate.remaining(105), 15);
    QCOMPARE(gate.remaining(119), 1);
    QCOMPARE(gate.remaining(120), 0);
    QCOMPARE(gate.remaining(5000), 0);

    gate.reset();
    QVERIFY(!gate.pending());
    QVERIFY(!gate.expired(5000));
    QCOMPARE(gate.remaining(5000), 0);
    // After the held bytes were judged, the next bytes start a new answer
    // without ending anything.
    QVERIFY(!gate.arrival(5000));

    SilenceGate slow(50);
    slow.arrival(0);
    QVERIFY(!slow.expired(49));
    QVERIFY(slow.expired(50));
    QCOMPARE(slow.remaining(10), 40);
}

QTEST_APPLESS_MAIN(TestPolling)
#include "tst_polling.moc"
