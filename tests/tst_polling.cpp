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
    // The parameter page's prepared write of register 67 = 3300, CRC still to come.
    QByteArray writeFrame = hex("011000430001020CE40000");
    QByteArray recordFrame = Frames::recordRead(1, 7);
    TickDecision tick() { return decideTick(live, unanswered, address, writeFrame, recordFrame); }
};
} // namespace

class TestPolling : public QObject
{
    Q_OBJECT
private slots:
    void readsFollowNextRequest_data()
    {
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("start: identity") << int(IdentityRead) << 1 << hex("010300690017D5D8");
        QTest::newRow("monitoring, address 5") << int(MonitorRead) << 5 << hex("0503000000270454");
        QTest::newRow("parameters") << int(ParameterRead) << 1 << hex("0103002D005B9438");
        QTest::newRow("record 7, address 5") << int(DatalogRead) << 5 << hex("050302C0001C4403");
    }
    void readsFollowNextRequest()
    {
        QFETCH(int, next);
        QFETCH(int, address);
        Link link;
        link.address = quint8(address);
        link.live.nextRequest = quint16(next);
        link.live.requestKind = 9; // whatever the last read was
        const TickDecision d = link.tick();
        QCOMPARE(d.action, TickDecision::Send);
        QTEST(d.frame, "frame");
        QCOMPARE(link.live.requestKind, quint16(next));
        QCOMPARE(link.live.nextRequest, quint16(next)); // answers move the sequence on, not ticks
        QCOMPARE(int(link.unanswered), 1);
        QCOMPARE(link.recordFrame, Frames::recordRead(1, 7)); // the prepared frame stays as it was
    }
    void silentPackGoesOffline()
    {
        Link link;
        link.live.nextRequest = MonitorRead;
        for (int tick = 1; tick <= 50; ++tick) {
            QCOMPARE(link.tick().action, TickDecision::Send);
            if (tick % 5 == 0) // the pack misses four and answers the fifth
                link.unanswered = 0;
        }
        for (int second = 1; second <= 5; ++second) { // then it falls silent
            QCOMPARE(link.tick().frame, Frames::monitorRead(1));
            QCOMPARE(int(link.unanswered), second);
        }
        const TickDecision offline = link.tick();
        QCOMPARE(offline.action, TickDecision::GoOffline);
        QVERIFY(offline.frame.isEmpty());
        QCOMPARE(link.live.nextRequest, quint16(IdentityRead));
        QCOMPARE(int(link.unanswered), 0);
        QCOMPARE(link.tick().frame, Frames::identityRead(1));
        QCOMPARE(link.live.requestKind, quint16(IdentityRead));
    }
    void leftoverCount_data()
    {
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("leftover");
        QTest::addColumn<int>("sends");
        QTest::addColumn<int>("then");
        QTest::newRow("read, 2 left over") << int(MonitorRead) << 2 << 3 << int(TickDecision::GoOffline);
        QTest::newRow("read, 5 left over") << int(IdentityRead) << 5 << 0 << int(TickDecision::GoOffline);
        QTest::newRow("write, 2 left over") << int(ParameterWrite) << 2 << 1 << int(TickDecision::AbandonWrite);
        QTest::newRow("write, silence first") << int(ParameterWrite) << 5 << 0 << int(TickDecision::GoOffline);
    }
    void leftoverCount()
    {
        QFETCH(int, next);
        QFETCH(int, leftover);
        Link link;
        link.live.nextRequest = quint16(next);
        link.unanswered = quint8(leftover);
        int sent = 0;
        TickDecision d;
        while ((d = link.tick()).action == TickDecision::Send)
            ++sent;
        QTEST(sent, "sends");
        QTEST(int(d.action), "then");
    }
    void unacknowledgedWriteIsAbandoned()
    {
        Link link;
        link.live.requestKind = MonitorRead;
        link.live.nextRequest = ParameterWrite;
        link.address = 5;
        for (int i = 1; i <= 3; ++i) {
            const TickDecision d = link.tick();
            QCOMPARE(d.frame, hex("051000430001020CE49F28"));
            QCOMPARE(link.live.requestKind, quint16(MonitorRead)); // a write is no read
        }
        const TickDecision fourth = link.tick();
        QCOMPARE(fourth.action, TickDecision::AbandonWrite);
        QVERIFY(fourth.frame.isEmpty());
        QCOMPARE(link.live.nextRequest, quint16(MonitorRead));
        QCOMPARE(link.tick().frame, Frames::monitorRead(5));
    }
    void silenceBoundary_data()
    {
        QTest::addColumn<int>("gap");
        QTest::addColumn<bool>("endsAnswer");
        QTest::newRow("19 ms") << 19 << false;
        QTest::newRow("20 ms") << 20 << true;
    }
    void silenceBoundary()
    {
        QFETCH(int, gap);
        QFETCH(bool, endsAnswer);
        for (const qint64 base : {qint64(0), qint64(1'700'000'000'123)}) {
            SilenceGate gate;
            QVERIFY(!gate.expired(base) && gate.remaining(base) == 0 && !gate.arrival(base)); // idle
            QCOMPARE(gate.remaining(base + 5), 15);
            QCOMPARE(gate.expired(base + gap), endsAnswer);
            QCOMPARE(gate.arrival(base + gap), endsAnswer);
            QCOMPARE(gate.remaining(base + gap + 19), 1); // counted from the latest arrival
            QVERIFY(gate.expired(base + gap + 20));
            gate.reset();
            QVERIFY(!gate.pending() && !gate.arrival(base + gap + 100));
        }
    }
};
QTEST_APPLESS_MAIN(TestPolling)
#include "tst_polling.moc"
