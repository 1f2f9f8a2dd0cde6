// The publisher's outbox (its bound and its order across a lost connection)
// and the broker URLs it takes.
#include "publish/mqttpublisher.h"
#include "publish/outbox.h"
#include "support/helpers.h"

#include <QtTest>

class TstPublish : public QObject
{
    Q_OBJECT
private slots:
    // A script of steps: "s3" a sample message, "R1" a retained one, "send
    // N" hands over messages until N are in flight (ids 1, 2, ... in
    // order), "ack M", "lost" (the connection went), "next" notes what
    // would be handed over next. Then the outbox, oldest first, '*' for a
    // message in flight, and the number given up.
    void outbox_data()
    {
        columns<int, QString, QString>("capacity", "steps", "outbox");
        QTest::newRow("full: the oldest sample goes") << 3 << "s1 s2 s3 s4" << "s2 s3 s4 | lost 1";
        QTest::newRow("full: a sample goes before an older retained message")
            << 3 << "R1 s1 s2 s3" << "R1 s2 s3 | lost 1";
        QTest::newRow("full of retained messages: the oldest goes") << 2 << "R1 R2 R3" << "R2 R3 | lost 1";
        QTest::newRow("full: a message in flight stays") << 3 << "s1 s2 s3 send 2 s4" << "s1* s2* s4 | lost 1";
        QTest::newRow("acknowledged in order") << 9 << "s1 s2 s3 send 3 ack 1 ack 2" << "s3* | lost 0";
        QTest::newRow("acknowledged out of order") << 9 << "s1 s2 s3 send 3 ack 2" << "s1* s3* | lost 0";
        QTest::newRow("an unknown id changes nothing") << 9 << "s1 send 1 ack 7" << "s1* | lost 0";
        QTest::newRow("lost connection: the unacknowledged go first, in order")
            << 9 << "s1 s2 s3 send 3 ack 2 s4 lost next send 9" << "next s1 | s1* s3* s4* | lost 0";
        QTest::newRow("the window holds back the rest") << 9 << "s1 s2 s3 send 2 next" << "next none | s1* s2* s3 | lost 0";
    }
    void outbox()
    {
        QFETCH(int, capacity);
        QFETCH(QString, steps);
        Outbox box(capacity);
        int mid = 0;
        int window = 0;
        QString noted;
        const QStringList words = steps.split(' ');
        for (int i = 0; i < words.size(); ++i) {
            const QString &w = words[i];
            if (w == "send") {
                window = words[++i].toInt();
                while (Outbox::Message *m = box.next(window))
                    box.handedOver(m, ++mid);
            } else if (w == "ack") {
                box.acknowledge(words[++i].toInt());
            } else if (w == "lost") {
                box.resendAll();
            } else if (w == "next") {
                const Outbox::Message *m = box.next(window);
                noted = "next " + (m ? QString::fromUtf8(m->payload) : QString("none")) + " | ";
            } else {
                box.push("t", w.toUtf8(), w.startsWith('R'));
            }
        }
        QStringList shown;
        for (int i = 0; i < box.size(); ++i)
            shown << QString::fromUtf8(box.at(i).payload) + (box.at(i).mid ? "*" : "");
        QTEST(noted + shown.join(' ') + QString(" | lost %1").arg(box.lost()), "outbox");
    }

    void brokerUrl_data()
    {
        columns<QString, QString>("url", "taken");
        QTest::newRow("mqtt, default port") << "mqtt://broker.lan" << "mqtt broker.lan 1883";
        QTest::newRow("mqtts, default port") << "mqtts://broker.lan" << "mqtts broker.lan 8883";
        QTest::newRow("address and port") << "mqtt://10.1.2.3:1884" << "mqtt 10.1.2.3 1884";
        QTest::newRow("capitals, a slash at the end") << "MQTTS://Broker:8884/" << "mqtts broker 8884";
        QTest::newRow("IPv6") << "mqtt://[::1]:1883" << "mqtt ::1 1883";
        QTest::newRow("empty") << "" << "no broker URL";
        QTest::newRow("another scheme") << "http://broker" << "use mqtt://host[:port]";
        QTest::newRow("no scheme") << "broker:1883" << "use mqtt://host[:port]";
        QTest::newRow("no host") << "mqtt://" << "names no host";
        QTest::newRow("password in the URL") << "mqtt://user:pw@broker" << "not in the URL";
        QTest::newRow("a path") << "mqtt://broker/topic" << "has no path";
        QTest::newRow("port 0") << "mqtt://broker:0" << "from 1 to 65535";
        QTest::newRow("port 65536") << "mqtt://broker:65536" << "from 1 to 65535";
        QTest::newRow("port not a number") << "mqtt://broker:x" << "from 1 to 65535";
        QTest::newRow("empty port") << "mqtt://broker:" << "from 1 to 65535";
        QTest::newRow("IPv6 without brackets") << "mqtt://::1" << "names no host";
        QTest::newRow("a space in the host") << "mqtt://my broker" << "'my broker' is not a host name";
    }
    void brokerUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, taken);
        MqttPublisher::Broker b;
        const Result r = MqttPublisher::parseUrl(url, &b);
        const QString got = r.ok() ? QString("%1 %2 %3").arg(b.tls ? "mqtts" : "mqtt", b.host).arg(b.port) : r.error();
        QVERIFY2(r.ok() ? got == taken : got.contains(taken), qPrintable(got));
    }
};
QTEST_GUILESS_MAIN(TstPublish)
#include "tst_publish.moc"
