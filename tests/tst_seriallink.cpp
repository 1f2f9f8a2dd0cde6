// The link on its own, over a port the test plays: failed writes, a port
// that breaks and comes back, refused and late answers, and a listener that
// runs an event loop inside a dispatch.
#include "link/crc16.h"
#include "link/seriallink.h"
#include "model/livedata.h"
#include "support/fakelinkport.h"
#include "support/testenv.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QByteArray sealed(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex) + QByteArray(2, '\0');
    sealFrame(frame);
    return frame;
}
const QByteArray IdentityRequest = QByteArray::fromHex("010300690017D5D8");
} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

    FakeLinkPort *port = nullptr;
    std::unique_ptr<SerialLink> link;

    // Polls every 30 ms; the first request is the identity read.
    void startLink()
    {
        port = new FakeLinkPort;
        link = std::make_unique<SerialLink>(port);
        link->setPortName(QStringLiteral("ttyFAKE0"));
        link->setPollInterval(30);
        QVERIFY(link->start());
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);
    }

private slots:
    void init() { TestEnv::resetLiveData(); }
    void cleanup() { link.reset(); }

    // A port that refuses a frame: nothing is reported as sent, the port is
    // closed at once, watched, and monitoring resumes once it opens again.
    void failedWriteClosesAndRecovers_data()
    {
        QTest::addColumn<bool>("byWrite");
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
        QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("ttyFAKE0"));
        QCOMPARE(lost.at(0).at(1).toString(), QStringLiteral("Input/output error"));
        QVERIFY(lost.at(0).at(2).toBool());
        QVERIFY(!port->isOpen());
        QVERIFY(link->isMonitoring() && link->isWaitingForPort());
        const int sentBefore = sent.size();
        QTest::qWait(200); // nothing is tried while the device is absent
        QCOMPARE(sent.size(), sentBefore);
        QCOMPARE(lost.size(), 1);

        port->writeOk = true;
        port->present = true;
        QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 5000);
        QVERIFY(port->isOpen());
        port->written.clear();
        QTRY_VERIFY(!port->written.isEmpty());
        QCOMPARE(port->written.first(), IdentityRequest);

        // Without reconnecting, a lost port ends monitoring.
        link->setAutoReconnect(false);
        port->breakDown();
        QTRY_COMPARE(lost.size(), 2);
        QVERIFY(!lost.at(1).at(2).toBool());
        QVERIFY(!link->isMonitoring());
    }

    // Refused reads count as unanswered and are never dispatched; answers
    // that belong to no request in flight are dropped; a good answer is
    // dispatched once.
    void refusedLateAndGoodAnswers()
    {
        startLink();
        QSignalSpy answers(link.get(), &SerialLink::answerReceived);
        QSignalSpy refused(link.get(), &SerialLink::readRefused);
        link->setPollInterval(100000); // no further ticks
        port->feed(sealed("018302"));
        QTRY_COMPARE(refused.size(), 1);
        QCOMPARE(refused.at(0).at(1).toInt(), 2);
        QCOMPARE(link->unansweredCount(), quint8(1));
        QCOMPARE(link->counters().exceptions, quint64(1));

        // Nothing in flight any more: an identity answer now is late.
        const QByteArray identity = sealed("01032E" + QByteArray(92, '0'));
        port->feed(identity);
        QTRY_COMPARE(link->counters().dropped, quint64(1));
        QVERIFY(answers.isEmpty());

        link->vsSerialSend();
        port->feed(identity);
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(link->unansweredCount(), quint8(0));
        QVERIFY(link->requestInFlight().isEmpty());
        port->feed(identity); // a second answer to the same request
        QTRY_COMPARE(link->counters().dropped, quint64(2));
        QCOMPARE(answers.size(), 1);
        QCOMPARE(link->counters().crcErrors, quint64(0));
        QCOMPARE(link->counters().taken, quint64(1));
    }

    // A listener that runs an event loop inside the dispatch (a modal box
    // would) does not get the next answer nested inside the current one.
    void noDispatchInsideADispatch()
    {
        startLink();
        link->setPollInterval(100000);
        const QByteArray identity = sealed("01032E" + QByteArray(92, '0'));
        int depth = 0, maxDepth = 0, taken = 0, takenInside = 0;
        connect(link.get(), &SerialLink::frameTaken, [&] {
            ++taken;
            takenInside += depth;
        });
        connect(link.get(), &SerialLink::answerReceived, [&] {
            maxDepth = qMax(maxDepth, ++depth);
            if (taken == 1) {
                link->vsSerialSend();
                port->feed(identity);
                QTest::qWait(150);
            }
            --depth;
        });
        port->feed(identity);
        QTRY_COMPARE(taken, 2);
        QTRY_COMPARE(link->counters().taken, quint64(2));
        QCOMPARE(maxDepth, 1);
        QCOMPARE(takenInside, 0);
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
