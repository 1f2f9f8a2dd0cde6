// packscope --service against the simulator and a real mosquitto broker:
// the state messages equal what the simulator served, discovery is retained
// and complete, availability follows a silenced pack and the service's
// death, and a broker away for 30 s loses no sample. The settings file's
// refusals. The window publishing through its dialog.
#include "app/mqttdialog.h"
#include "publish/mqttpublisher.h"
#include "support/e2e.h"
#include "support/helpers.h"
#include "support/mqttbroker.h"
#include "support/simprocess.h"

#include <QAction>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

constexpr int Deadline = 60000;
const QString ServiceId = QStringLiteral("tst-svc");
const QVector<int> Ids{1, 3, 7};

// The simulator's serial at each ID: the first keeps the one given, the
// others end in their ID.
QString serialOf(int id) { return id == 1 ? "PS2026120600001" : QString("PS2026120600%1").arg(id, 3, 10, QChar('0')); }
QString packTopic(int id, const char *what) { return QString("packscope/%1/%2").arg(serialOf(id), what); }

// The names of the warning and protection bits that the simulator sets.
const QMap<int, QString> FlagNames{{0, "pack_ov"},  {1, "cell_ov"},   {2, "pack_uv"},       {3, "cell_uv"},
                                   {4, "charge_oc"}, {6, "ambient_temperature"}, {10, "charge_ut"},
                                   {11, "discharge_ut"}, {12, "low_capacity"}};

// The state message a monitoring answer (registers 0..38) must give,
// without its time and sequence number.
QJsonObject expectedState(int id, const QVector<quint16> &r)
{
    auto s8 = [](int v) { return int(qint8(quint8(v))); };
    const int cells = qMin<int>(r[36], 16);
    QJsonArray cellList, balancing, temps;
    int hi = 0, lo = 65535;
    for (int i = 0; i < cells; ++i) {
        cellList << r[2 + i] / 1000.0;
        hi = qMax<int>(hi, r[2 + i]);
        lo = qMin<int>(lo, r[2 + i]);
        if (r[38] >> i & 1)
            balancing << i + 1;
    }
    const int t[4] = {s8(r[33] >> 8), s8(r[33]), s8(r[34] >> 8), s8(r[34])};
    for (int v : t)
        temps << v;
    auto flags = [](quint16 word) {
        QJsonArray names;
        for (int bit = 0; bit < 16; ++bit)
            if (word >> bit & 1)
                names << FlagNames.value(bit, QString("bit%1").arg(bit));
        return names;
    };
    const quint16 status = r[25];
    const char *state = status & 1 ? "charge" : status & 2 ? "discharge" : status & 4 ? "protection"
                      : status & 8 ? "charge_current_limiting" : "standby";
    return QJsonObject{
        {"id", id}, {"serial", serialOf(id)}, {"state", state}, {"heater", bool(status & 0x8000)},
        {"voltage", r[0] / 100.0}, {"current", qint16(r[1]) / 100.0}, {"soc", r[24]}, {"soh", r[23]},
        {"capacity", r[37] / 10.0}, {"remaining", r[21]}, {"cycles", r[29]}, {"max_charge_current", r[22]},
        {"cell_count", cells}, {"cells", cellList}, {"cell_max", hi / 1000.0}, {"cell_min", lo / 1000.0},
        {"cell_spread", (hi - lo) / 1000.0}, {"balancing", balancing}, {"temperatures", temps},
        {"temp_max", qMax(t[0], t[1])}, {"temp_min", qMin(t[0], t[1])}, {"temp_pcb", qint16(r[18])},
        {"temp_ambient", qint16(r[19])}, {"temp_bms_max", qint16(r[20])},
        {"warnings", flags(r[26])}, {"protections", flags(r[27])}, {"errors", flags(r[28])},
    };
}

// The monitoring answers the simulator gave each ID intact, in order, from
// its served log ("<ms> ok <request hex> <answer hex>").
QMap<int, QVector<QVector<quint16>>> servedAnswers(const QString &logFile)
{
    QMap<int, QVector<QVector<quint16>>> answers;
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return answers;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 4 || words[1] != "ok" || words[2].mid(2, 10) != "0300000027")
            continue;
        const QByteArray a = QByteArray::fromHex(words[3]);
        QVector<quint16> regs;
        for (int i = 0; i < 39; ++i)
            regs << quint16(quint8(a[3 + 2 * i]) << 8 | quint8(a[4 + 2 * i]));
        answers[quint8(a[0])] << regs;
    }
    return answers;
}

QJsonObject json(const QByteArray &payload) { return QJsonDocument::fromJson(payload).object(); }

} // namespace

class TstE2eMqtt : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    MqttBroker broker;
    MqttSubscriber sub;
    SimProcess sim;
    QProcess service;

    QString file(const QString &name) const { return dir.filePath(name); }
    QString log; // the service's stderr

    int states(int id) { return sub.payloads(packTopic(id, "state")).size(); }
    QByteArray lastOn(const QString &topic)
    {
        const QList<QByteArray> all = sub.payloads(topic);
        return all.isEmpty() ? QByteArray() : all.last();
    }
    bool writeConfig(const QString &name, const QString &text)
    {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
    }

private slots:
    void initTestCase()
    {
        if (mosquittoProgram("mosquitto").isEmpty() || mosquittoProgram("mosquitto_sub").isEmpty())
            QFAIL("mosquitto and mosquitto_sub are needed (scripts/install-deps installs them)");
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        QVERIFY(sub.start(broker.port(), {"packscope/#"}));
        connect(&service, &QProcess::readyReadStandardError, this,
                [this] { log += QString::fromUtf8(service.readAllStandardError()); });
    }
    void cleanupTestCase()
    {
        if (service.state() != QProcess::NotRunning) {
            service.kill();
            service.waitForFinished();
        }
        sim.stop();
    }

    // Settings that cannot be taken end the service before it starts, with
    // exit code 2 and a line naming the key.
    void refusedSettings_data()
    {
        columns<QString, QStringList, QString>("settings", "arguments", "said");
        QTest::newRow("unknown key") << "port = /dev/null\nprot = 3\n" << QStringList() << "unknown key 'prot'";
        QTest::newRow("key in a section") << "port = /dev/null\n[mqtt]\nurl = mqtt://b\n" << QStringList() << "unknown key 'mqtt/url'";
        QTest::newRow("bad URL") << "port = /dev/null\nmqtt_url = http://broker\n" << QStringList() << "mqtt_url: 'http://broker'";
        QTest::newRow("bad address list") << "port = /dev/null\naddresses = 1,65\n" << QStringList() << "addresses: '1,65'";
        QTest::newRow("mqtts without a CA file") << "port = /dev/null\nmqtt_url = mqtts://broker\n" << QStringList() << "mqtt_ca_file: ";
        QTest::newRow("bad URL on the command line") << "port = /dev/null\n" << QStringList{"--mqtt", "mqtt://b:0"} << "--mqtt: 'mqtt://b:0'";
    }
    void refusedSettings()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, arguments);
        QVERIFY(writeConfig("bad.conf", settings));
        const ProgramRun r = runProgram(PACKSCOPE_PATH, QStringList{"--service", "--config", file("bad.conf"), "--data-dir",
                                                                    file("refused")} + arguments);
        QFETCH(QString, said);
        QVERIFY2(r.code == 2 && r.err.count('\n') == 1 && r.err.contains(said), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(file("refused"))); // nothing was started
    }

    // mqtts: the broker's certificate is checked against the CA file given.
    void tlsChecksTheBroker_data()
    {
        columns<QString, QString>("caFile", "outcome");
        QTest::newRow("the CA that signed it") << "ca.crt" << "connected";
        QTest::newRow("another CA") << "other.crt" << "certificate verify failed";
    }
    void tlsChecksTheBroker()
    {
        // A CA, a certificate it signs for "localhost", and another CA.
        auto openssl = [this](const QString &arguments) {
            return runProgram("openssl", arguments.split(' '), QProcessEnvironment::systemEnvironment(), dir.path()).code == 0;
        };
        const QString key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=";
        QVERIFY(QFile::exists(file("broker.crt"))
                || (openssl("req -x509 " + key + "ca -keyout ca.key -out ca.crt")
                    && openssl("req -x509 " + key + "other -keyout other.key -out other.crt")
                    && openssl("req " + key + "localhost -keyout broker.key -out broker.csr")
                    && writeConfig("san", "subjectAltName=DNS:localhost\n")
                    && openssl("x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile san -out broker.crt")));
        MqttBroker tlsBroker;
        tlsBroker.setTls(file("broker.crt"), file("broker.key"));
        QVERIFY2(tlsBroker.start(), qPrintable(tlsBroker.errorString()));
        QFETCH(QString, caFile);
        MqttPublisher publisher;
        QVERIFY(publisher.setBroker(QString("mqtts://localhost:%1").arg(tlsBroker.port()), "", "", file(caFile), "tst-tls").ok());
        publisher.start();
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected() || !publisher.lastError().isEmpty(), Deadline);
        QFETCH(QString, outcome);
        QVERIFY2(publisher.isConnected() ? outcome == "connected" : publisher.lastError().contains(outcome),
                 qPrintable(publisher.lastError()));
    }

    // Connection → Publish to MQTT…: a URL the window cannot take is said
    // in a box and the dialog stays; once on, the pack's samples reach the
    // broker and the status bar says so; off, the pack goes offline.
    void windowPublishes()
    {
        E2e e;
        QVERIFY(e.start({"--address", "2", "--serial", "SN-WIN-0002"}, 250, 2));
        MainWindow &w = *e.window;
        auto *action = w.findChild<QAction *>("publishAction");
        QVERIFY(action);
        w.findChild<QMenu *>("languageMenu")->actions().at(1)->trigger(); // 中文
        QCOMPARE(action->text(), QStringLiteral("发布到 MQTT…"));
        w.findChild<QMenu *>("languageMenu")->actions().at(0)->trigger(); // English
        QCOMPARE(action->text(), QStringLiteral("Publish to MQTT…"));
        auto *label = w.findChild<QLabel *>("mqttLabel");
        QVERIFY(label && label->isHidden()); // off at the start

        auto fill = [&w](bool on, const QString &url) {
            auto *dialog = w.findChild<MqttDialog *>("mqttDialog");
            if (!dialog || !dialog->isVisible())
                return (MqttDialog *)nullptr;
            dialog->findChild<QCheckBox *>("enabledCB")->setChecked(on);
            dialog->findChild<QLineEdit *>("urlLE")->setText(url);
            dialog->accept();
            return dialog;
        };
        action->trigger();
        MqttDialog *dialog = fill(true, "mqtt://broker:99999");
        QVERIFY(dialog);
        QCOMPARE(e.boxes, QStringList{"Cannot publish to MQTT: 'mqtt://broker:99999': the port must be a number from 1 to 65535"});
        QVERIFY(dialog->isVisible());
        e.boxes.clear();
        QVERIFY(fill(true, broker.url()));
        QTRY_VERIFY(!w.findChild<MqttDialog *>("mqttDialog"));

        w.on_monitorBtn_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("packscope/SN-WIN-0002/state").size() >= 3, Deadline);
        QCOMPARE(lastOn("packscope/SN-WIN-0002/availability"), QByteArray("online"));
        QCOMPARE(json(sub.payloads("packscope/SN-WIN-0002/state").last()).value("id").toInt(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("MQTT: connected"), Deadline);

        action->trigger();
        QVERIFY(fill(false, broker.url()));
        QTRY_COMPARE_WITH_TIMEOUT(lastOn("packscope/SN-WIN-0002/availability"), QByteArray("offline"), Deadline);
        QVERIFY(label->isHidden());
    }

    void publishesWhatWasServed()
    {
        QVERIFY2(sim.start({"--address", "1,3,7", "--served-log", file("served.log")}), qPrintable(sim.errorString()));
        QVERIFY(writeConfig("service.conf", QString("# the test's service\nport = %1\naddresses = 1,3,7\npoll_ms = 250\n"
                                                    "data_dir = %2\nmqtt_url = %3\nservice_id = %4\n")
                                                .arg(sim.deviceName(), file("data"), broker.url(), ServiceId)));
        service.start(PACKSCOPE_PATH, {"--service", "--config", file("service.conf")});
        QVERIFY(service.waitForStarted());
        const QString serviceAvailability = "packscope/" + ServiceId + "/availability";
        QTRY_COMPARE_WITH_TIMEOUT(lastOn(serviceAvailability), QByteArray("online"), Deadline);
        for (int id : Ids) {
            QTRY_VERIFY2_WITH_TIMEOUT(states(id) >= 5, qPrintable(log), Deadline);
            QCOMPARE(lastOn(packTopic(id, "availability")), QByteArray("online"));
        }

        // Discovery, as a subscriber that comes later gets it: retained,
        // eleven entities a pack, each complete.
        QStringList discoveryArguments{"-p", QString::number(broker.port()), "-C", QString::number(11 * Ids.size()),
                                       "-W", "60", "-F", "%r %t %p"};
        for (int id : Ids)
            discoveryArguments << "-t" << "homeassistant/+/packscope_" + serialOf(id) + "/#";
        const ProgramRun discovery = runProgram(mosquittoProgram("mosquitto_sub"), discoveryArguments);
        const QStringList lines = discovery.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 11 * Ids.size());
        QStringList entities;
        for (const QString &line : lines) {
            const QStringList parts = line.split(' ');
            QVERIFY2(parts.value(0) == "1", qPrintable(line)); // retained
            const QJsonObject c = json(line.section(' ', 2).toUtf8());
            const QString topic = parts.value(1);
            const QString id = topic.section('/', 3, 3);
            const bool binary = topic.startsWith("homeassistant/binary_sensor/");
            QVERIFY2(topic.endsWith("/config") && c.value("unique_id").toString().endsWith("_" + id), qPrintable(line));
            for (const char *key : {"name", "unique_id", "state_topic", "value_template", "device", "availability"})
                QVERIFY2(c.contains(key), qPrintable(key + (" missing in " + line)));
            for (const char *key : {"identifiers", "name", "model", "sw_version", "manufacturer"})
                QVERIFY2(c.value("device").toObject().contains(key), qPrintable(line));
            const QString serial = topic.section('/', 2, 2).mid(QString("packscope_").size());
            QCOMPARE(c.value("state_topic").toString(), "packscope/" + serial + "/state");
            QCOMPARE(c.value("availability").toArray(),
                     QJsonArray({QJsonObject{{"topic", "packscope/" + serial + "/availability"}},
                                 QJsonObject{{"topic", serviceAvailability}}}));
            QCOMPARE(c.value("device").toObject().value("model").toString(), QString("PS16S-100AH"));
            if (binary)
                QVERIFY2(c.value("payload_on") == "ON" && c.value("payload_off") == "OFF"
                             && c.value("device_class") == "problem", qPrintable(line));
            else
                QVERIFY2(c.contains("unit_of_measurement") && c.value("state_class") == "measurement", qPrintable(line));
            entities << serial + ' ' + id + ' ' + c.value("device_class").toString() + ' '
                            + c.value("unit_of_measurement").toString();
        }
        entities.sort();
        QStringList expected;
        for (int id : Ids)
            for (const char *e : {"cell_max voltage V", "cell_min voltage V", "cell_spread voltage V", "current current A",
                                  "error problem ", "protection problem ", "soc battery %", "soh  %",
                                  "temp_max temperature °C", "voltage voltage V", "warning problem "})
                expected << serialOf(id) + ' ' + QString::fromUtf8(e);
        expected.sort();
        QCOMPARE(entities, expected);

        // One pack falls silent: it alone goes offline, and comes back.
        const int silenced = Ids.last();
        QVERIFY(sim.send(QString("silent %1 on").arg(silenced)));
        QTRY_COMPARE_WITH_TIMEOUT(lastOn(packTopic(silenced, "availability")), QByteArray("offline"), Deadline);
        const int othersBefore = states(Ids.first());
        QTRY_VERIFY_WITH_TIMEOUT(states(Ids.first()) >= othersBefore + 3, Deadline);
        QCOMPARE(lastOn(packTopic(Ids.first(), "availability")), QByteArray("online"));
        QVERIFY(sim.send(QString("silent %1 off").arg(silenced)));
        QTRY_COMPARE_WITH_TIMEOUT(lastOn(packTopic(silenced, "availability")), QByteArray("online"), Deadline);

        // The broker away for 30 s: the samples of the gap wait and arrive
        // after it, in order.
        QMap<int, int> atStop;
        for (int id : Ids)
            atStop[id] = states(id);
        broker.stop();
        QTest::qWait(30000);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        QTRY_VERIFY2_WITH_TIMEOUT(log.contains("the queued messages are delivered"), qPrintable(log), 2 * Deadline);
        for (int id : Ids) // at least a sample a second of the gap, and one after it
            QTRY_VERIFY2_WITH_TIMEOUT(states(id) >= atStop[id] + 31, qPrintable(log), Deadline);

        // Killed: the broker says the service is offline (its last will).
        service.kill();
        service.waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(lastOn(serviceAvailability), QByteArray("offline"), Deadline);
        sim.stop();

        // Every sample in order, none lost (a message the broker delivered
        // again after its restart counts once), each one an answer the
        // simulator served, in the order served.
        const auto served = servedAnswers(file("served.log"));
        for (int id : Ids) {
            const QVector<QVector<quint16>> &answers = served.value(id);
            int next = 0;
            qint64 lastSeq = 0;
            for (const QByteArray &payload : sub.payloads(packTopic(id, "state"))) {
                QJsonObject got = json(payload);
                const qint64 seq = got.take("seq").toVariant().toLongLong();
                if (seq == lastSeq)
                    continue;
                QVERIFY2(seq == lastSeq + 1, qPrintable(QString("pack %1: seq %2 after %3").arg(id).arg(seq).arg(lastSeq)));
                lastSeq = seq;
                QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(got.take("time").toString()).hasMatch(),
                         payload.constData());
                while (next < answers.size() && expectedState(id, answers[next]) != got)
                    ++next;
                QVERIFY2(next < answers.size(), qPrintable(QString("pack %1, seq %2 was not served: %3")
                                                               .arg(id).arg(seq).arg(QString::fromUtf8(payload))));
                ++next;
            }
            QVERIFY(lastSeq >= atStop[id] + 31);
        }
    }

    // SIGTERM while an answer is on its way (a pack that takes 400 ms): it is stored before the service ends, so
    // every monitoring request sent has its row.
    void stopWaitsForTheAnswerOnItsWay()
    {
        SimProcess slow;
        QVERIFY2(slow.start({"--byte-time", "115200", "--answer-delay", "400"}), qPrintable(slow.errorString()));
        QProcess svc;
        QString said;
        connect(&svc, &QProcess::readyReadStandardError, this, [&] { said += QString::fromUtf8(svc.readAllStandardError()); });
        svc.start(PACKSCOPE_PATH, {"--service", "--port", slow.deviceName(), "--data-dir", file("stopdata"), "--log-frames"});
        QVERIFY(svc.waitForStarted());
        const QString monitorRead = QStringLiteral("OUT 01 03 00 00 00 27");
        QTRY_VERIFY2_WITH_TIMEOUT(said.count(monitorRead) == 3, qPrintable(said), Deadline);
        ::kill(pid_t(svc.processId()), SIGTERM);
        QVERIFY(svc.waitForFinished(Deadline));
        QCOMPARE(svc.exitCode(), 0);
        QCOMPARE(said.count(monitorRead), 3);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("stopdata"));
            db.setDatabaseName(file("stopdata/my1.db"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("select count(*) from total")) && q.next());
            QCOMPARE(q.value(0).toInt(), 3);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("stopdata"));
    }
};
QTEST_MAIN(TstE2eMqtt)
#include "tst_e2e_mqtt.moc"
