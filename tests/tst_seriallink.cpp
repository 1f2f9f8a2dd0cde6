// The link: the poll tick, the silence gate, the ring buffer, and a port the
// test plays (failed writes, unplugging, refused, late and nested answers).
#include "link/frames.h"
#include "link/polling.h"
#include "link/ringbuffer.h"
#include "link/seriallink.h"
#include "model/livedata.h"
#include "support/fakelinkport.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QSignalSpy>
#include <QtTest>
#include <numeric>
#include <vector>

namespace {
const QByteArray IdentityRequest = QByteArray::fromHex("010300690017D5D8");
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
std::vector<quint8> counting(quint32 n, quint8 first = 0)
{
    std::vector<quint8> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}
const QByteArray Identity = sealed(QByteArray::fromHex("01032E" + QByteArray(92, '0')));
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
        QVERIFY(link->start());
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);
        link->setPollInterval(pollMs);
    }

private slots:
    void init() { TestEnv::resetLiveData(); }
    void cleanup() { link.reset(); }

    void readsFollowNextRequest_data()
    {
        columns<int, int, QByteArray>("next", "address", "frame");
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
        QCOMPARE(link.recordFrame, hex("010302C0001C4587")); // the prepared frame stays as it was
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
        QVERIFY(offline.action == TickDecision::GoOffline && offline.frame.isEmpty());
        QCOMPARE(int(link.unanswered), 0);
        QCOMPARE(link.tick().frame, IdentityRequest);
        QCOMPARE(link.live.requestKind, quint16(IdentityRead));
    }
    void leftoverCount_data()
    {
        columns<int, int, int, int>("next", "leftover", "sends", "then");
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
        QVERIFY(fourth.action == TickDecision::AbandonWrite && fourth.frame.isEmpty());
        QCOMPARE(link.tick().frame, hex("0503000000270454"));
    }
    void silenceBoundary_data()
    {
        columns<int, bool>("gap", "endsAnswer");
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

    // Full at exactly its capacity; a write beyond it takes what fits.
    void ringCapacity()
    {
        std::vector<quint8> buf(300);
        RingBuffer rb(300);
        QVERIFY(rb.isEmpty() && !rb.isFull() && rb.available() == 0 && rb.readPosition() == 0);
        const auto bytes = counting(350);
        QCOMPARE(rb.write(bytes.data(), 250), 250u);
        QCOMPARE(rb.write(bytes.data() + 250, 100), 50u); // the first 50 of the second write
        QVERIFY(rb.isFull() && !rb.isEmpty());
        QCOMPARE(rb.write(bytes.data(), 1), 0u);
        QCOMPARE(rb.read(buf.data(), 0), 0u); // a zero-length read changes nothing
        QCOMPARE(rb.read(buf.data(), 300), 300u);
        QVERIFY(buf == counting(300) && rb.isEmpty());
        QCOMPARE(rb.write(bytes.data(), 10), 10u);
        QCOMPARE(rb.read(buf.data(), 4), 4u);
        QCOMPARE(rb.available(), 6u);
        QCOMPARE(rb.read(buf.data(), 100), 6u);
        QCOMPARE(int(buf[0]), 4);
    }
    void ringWrapsAtEndAndClears()
    {
        std::vector<quint8> buf(300);
        RingBuffer rb(300);
        rb.write(buf.data(), 290);
        rb.read(buf.data(), 290);
        const auto bytes = counting(20, 100);
        QCOMPARE(rb.write(bytes.data(), 20), 20u);
        QCOMPARE(rb.writePosition(), 10u);
        QCOMPARE(rb.available(), 20u);
        QCOMPARE(rb.read(buf.data(), 300), 20u);
        QVERIFY(std::equal(bytes.begin(), bytes.end(), buf.begin()));
        QCOMPARE(rb.readPosition(), 10u);
        rb.write(buf.data(), 120);
        rb.clear();
        QVERIFY(rb.isEmpty() && rb.available() == 0);
        QCOMPARE(rb.readPosition() + rb.writePosition(), 0u);
        QCOMPARE(rb.write(buf.data(), 300), 300u);
    }

    // A lost port is closed and watched; monitoring resumes once it opens again.
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
        if (byWrite) {
            port->writeOk = false;
        } else {
            port->breakDown();
            port->breakDown(); // reported again before the link got to it
        }
        QTRY_COMPARE(lost.size(), 1);
        QCOMPARE(lost.at(0), QVariantList({"ttyFAKE0", "Input/output error", true})); // port, reason, reconnecting
        QVERIFY(!port->isOpen() && link->isMonitoring() && link->isWaitingForPort());
        const int sentBefore = sent.size();
        QTest::qWait(200); // nothing is tried while the device is absent
        QCOMPARE(sent.size(), sentBefore);
        QCOMPARE(lost.size(), 1);

        port->writeOk = true;
        port->present = true;
        QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 10000);
        QVERIFY(port->isOpen());
        port->written.clear();
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);

        // Without reconnecting, a lost port ends monitoring.
        link->setAutoReconnect(false);
        port->breakDown();
        QTRY_COMPARE(lost.size(), 2);
        QVERIFY(!lost.at(1).at(2).toBool() && !link->isMonitoring());
    }

    // A refused read counts as unanswered; an answer to nothing in flight is
    // dropped; a good answer is dispatched once.
    void refusedLateAndGoodAnswers()
    {
        startLink(100000); // no further ticks
        QSignalSpy answers(link.get(), &SerialLink::answerReceived);
        QSignalSpy refused(link.get(), &SerialLink::readRefused);
        port->feed(sealed(hex("018302")));
        QTRY_COMPARE(refused.size(), 1);
        QCOMPARE(refused.at(0).at(1).toInt(), 2);
        QCOMPARE(link->unansweredCount(), quint8(1));
        QCOMPARE(link->counters().exceptions, quint64(1));

        port->feed(Identity); // late: nothing in flight any more
        QTRY_COMPARE(link->counters().dropped, quint64(1));
        QVERIFY(answers.isEmpty());

        link->vsSerialSend();
        port->feed(Identity);
        QTRY_COMPARE(answers.size(), 1);
        QVERIFY(link->unansweredCount() == 0 && link->requestInFlight().isEmpty());
        port->feed(Identity); // a second answer to the same request
        QTRY_COMPARE(link->counters().dropped, quint64(2));
        QCOMPARE(answers.size(), 1);
        QCOMPARE(link->counters().taken, quint64(1));

        // A busy window: an answer still waiting at the next tick is taken
        // before the tick counts its request unanswered.
        link->vsSerialSend();
        port->feedQuietly(Identity);
        link->vsSerialSend();
        QCOMPARE(answers.size(), 2);
        QCOMPARE(link->counters().noAnswer, quint64(0));
        QCOMPARE(link->requestInFlight(), IdentityRequest);
        port->feedQuietly(Identity.left(20)); // half an answer waits for its rest
        link->vsSerialSend();
        QCOMPARE(answers.size(), 2);
        QCOMPARE(link->counters().noAnswer, quint64(1));
    }

    // A listener running an event loop in the dispatch (a modal box) gets
    // no answer nested inside the current one.
    void noDispatchInsideADispatch()
    {
        startLink(100000);
        int depth = 0, maxDepth = 0, taken = 0, takenInside = 0;
        connect(link.get(), &SerialLink::frameTaken, [&] {
            ++taken;
            takenInside += depth;
        });
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
        QCOMPARE(maxDepth, 1);
        QCOMPARE(takenInside, 0);
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
