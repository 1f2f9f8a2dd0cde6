// Parameter sets from the command line against the BMS simulator: packscope
// --read-set and --write-set with their exit codes, stderr and the pack's registers.
#include "support/simprocess.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TstE2eParameterSet : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_exe;
    SimProcess m_sim;
    QString m_stderr;

    // Runs packscope with `arguments`; returns its exit code (-1: it hung).
    int run(const QStringList &arguments)
    {
        QProcess p;
        p.start(m_exe, arguments);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        m_stderr = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    }
    QString writeFile(const char *name, const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(QLatin1String(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    QStringList link() const { return {"--port", m_sim.deviceName(), "--poll-ms", "300"}; }
    static QByteArray balanceSet(const char *lowCap)
    {
        return QByteArray(R"({"format":"packscope-parameter-set","version":1,"model":"","serial":"","saved":"",)"
                          R"("groups":["BALANCE","TIME_SET"],"values":{"BALANCE_OPEN_V":"3.37","BALANCE_OPEN_V_DELTA":"35","LOW_CAP":")")
            + lowCap + "\"}}";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_exe = m_dir.filePath("packscope");
        QVERIFY(QFile::copy(QStringLiteral(PACKSCOPE_PATH), m_exe)); // its databases go beside it
    }
    void cleanup() { m_sim.stop(); }

    void readSet()
    {
        QVERIFY(m_sim.start({}));
        const QString name = m_dir.filePath("read.json");
        QCOMPARE(run(link() << "--read-set" << name), 0);
        QVERIFY(m_stderr.endsWith(QStringLiteral("packscope: parameters saved to %1\n").arg(name)));
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
        QCOMPARE(o.value("groups").toVariant().toStringList().size(), 15);
        QVERIFY(!o.value("groups").toVariant().toStringList().contains("TIME_SET"));
        const QJsonObject values = o.value("values").toObject();
        QCOMPARE(values.size(), 51);
        QCOMPARE(values.value("COVW").toString() + values.value("UCTP").toString() + values.value("LD").toString(),
                 QStringLiteral("3.800-5200.00"));
        QCOMPARE(o.value("serial").toString(), QStringLiteral("PS2026120600001"));
    }

    void writeSet_data()
    {
        QTest::addColumn<QStringList>("simArguments");
        QTest::addColumn<QByteArray>("set");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("written") << QStringList() << balanceSet("15") << 0 << "packscope: set written and read back";
        QTest::newRow("refused value") << QStringList() << balanceSet("1.5") << 1
                                       << "packscope: Parameter set set.json refused (values.LOW_CAP): \"1.5\" must be a whole number";
        QTest::newRow("never acknowledged") << QStringList{"--write-no-ack"} << balanceSet("15") << 1
                                            << "packscope: write failed: register 56 was sent three times without an acknowledgement";
        QTest::newRow("refused by the BMS") << QStringList{"--write-exception"} << balanceSet("15") << 1
                                            << "packscope: write failed: the BMS refused the write of register 56";
    }
    void writeSet()
    {
        QFETCH(QStringList, simArguments);
        QFETCH(QByteArray, set);
        QVERIFY(m_sim.start(simArguments));
        const QVector<quint16> before = m_sim.registers(47, 89);
        QTEST(run(link() << "--write-set" << writeFile("set.json", set)), "exitCode");
        QFETCH(QString, reason);
        QVERIFY2(m_stderr.split(QLatin1Char('\n')).contains(reason), qPrintable(m_stderr));
        QVector<quint16> expected = before;
        if (QTest::currentDataTag() == QByteArray("written")) {
            expected[56 - 47] = 3370;
            expected[57 - 47] = 35;
            expected[58 - 47] = 15;
            const QVector<quint16> clock = m_sim.registers(45, 2);
            const quint32 c = quint32(clock.value(0)) << 16 | clock.value(1);
            const QDateTime t(QDate(int(c >> 26) + 2000, int(c >> 22 & 15), int(c >> 17 & 31)),
                              QTime(int(c >> 12 & 31), int(c >> 6 & 63), int(c & 63)));
            QVERIFY(t.isValid() && qAbs(t.secsTo(QDateTime::currentDateTime())) <= 5);
        } else if (QTest::currentDataTag() == QByteArray("never acknowledged")) {
            expected[56 - 47] = 3370; // taken, though never acknowledged
        }
        QCOMPARE(m_sim.registers(47, 89), expected);
    }
};

QTEST_GUILESS_MAIN(TstE2eParameterSet)
#include "tst_e2e_parameterset.moc"
