// Parameter writes at the pace users run, without waiting for it: each
// "second" is one poll tick, the simulator's answer and the silence after
// it, on a fake port and fake clocks. A whole set through the command line's
// job, Restore with every group, one sequence at a time, and the report of
// a sequence that ends early.
#include "app/parametersetjob.h"
#include "model/livedata.h"
#include "pages/presetparameters.h"
#include "support/e2e.h"
#include "support/pace.h"
#include "support/helpers.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// A --read-set or --write-set job on the paced window, started.
struct Job
{
    ParameterSetJob job;
    int code = -1; // -1 while it runs
    QString reason;
    Job(Pace &p, ParameterSetJob::Mode mode, const QString &fileName) : job(*p.window.session(), mode, fileName, {false, false})
    {
        QObject::connect(&job, &ParameterSetJob::finished, [this](int c, const QString &r) { code = c, reason = r; });
        job.start();
    }
    bool done() const { return code >= 0; }
};

// A register value from a set file's text, worked out apart from the tool.
quint16 raw(const char *field, const QString &text)
{
    const QString f = QLatin1String(field);
    const double x = text.toDouble();
    if (text.contains(QLatin1Char('.')))
        return quint16(qRound(x * (f.startsWith("CU") || f.startsWith("CO") || f.startsWith("BALANCE_OPEN_V") ? 1000 : 100)));
    const bool temp = f.contains("T") && !f.contains("DELAY") && !f.contains("CNT") && f != "OCCR" && f != "ODCR"
                      && !f.startsWith("BALANCE") && f != "LOW_CAP";
    return quint16(int(x) + (temp ? 50 : 0));
}
} // namespace

class TstParameterWrite : public QObject
{
    Q_OBJECT
    E2e e; // fresh databases, the box hook
    QTemporaryDir m_dir;

    // Reads the pack's parameters into a set file, as --read-set does.
    QString readSet(Pace &p)
    {
        const QString name = m_dir.filePath("whole.json");
        Job job(p, ParameterSetJob::ReadSet, name);
        p.secondsUntil([&job] { return job.done(); }, 10);
        return job.code == 0 ? name : QString();
    }

private slots:
    void cleanup() { e.reset(); }

    // A whole set read, every value moved by one step, written back at one frame a
    // second, and read back: about a minute of the pack's time.
    void wholeSetAtTheNormalPace()
    {
        Pace p;
        const QString name = readSet(p);
        QVERIFY(!name.isEmpty());
        QJsonObject o = QJsonDocument::fromJson(readFile(name)).object();
        QJsonObject values = o.value("values").toObject();
        QCOMPARE(values.size(), 51);
        QMap<QString, quint16> expected;
        for (const QString &key : values.keys()) {
            QString text = values.value(key).toString();
            const int dot = text.indexOf('.');
            // One step up: the last digit, whatever the unit.
            const qint64 digits = text.remove('.').toLongLong() + 1;
            text = QString::number(digits);
            if (dot >= 0)
                text.insert(text.size() - (values.value(key).toString().size() - dot - 1), '.');
            values.insert(key, text);
            expected.insert(key, raw(qPrintable(key), text));
        }
        o.insert("values", values);
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(o).toJson()) > 0);
        file.close();

        p.writes.clear();
        Job job(p, ParameterSetJob::WriteSet, name);
        const int seconds = p.secondsUntil([&job] { return job.done(); });
        QCOMPARE(job.reason, QStringLiteral("set written and read back"));
        QCOMPARE(job.code, 0);
        // Identity, the read before the write, 51 frames, the read-back: one a tick.
        QVERIFY2(seconds >= 54 && seconds <= 56, qPrintable(QString::number(seconds)));
        QCOMPARE(p.writes.size(), 51);
        QCOMPARE(p.writes.mid(0, 7), QList<quint16>({61, 62, 63, 67, 68, 69, 64}));
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
            QVERIFY2(p.model.reg(Param::fieldByName(it.key())->reg) == it.value(), qPrintable(it.key()));
    }

    // Restore with every group ticked: the clock frame goes out last, 52 seconds after
    // the click, with the PC's time of then.
    void restoreSetsTheClockOfItsLastFrame()
    {
        Pace p;
        QVERIFY(p.online());
        PresetParameters *page = p.window.parameterPage();
        child<QCheckBox>(page, "selectAll")->click();
        page->field("HEATING_ON")->setText("5");
        page->field("HEATING_OFF")->setText("15");
        child<QPushButton>(page, "factory_reset")->click();
        const int seconds = p.secondsUntil([&] { return !e.boxes.isEmpty(); });
        QCOMPARE(e.boxes, QStringList("successful: Parameter modification was successful!!!"));
        QVERIFY(seconds >= 53);
        QCOMPARE(p.writes.size(), 52);
        QCOMPARE(p.writes.last(), quint16(45));
        QVERIFY2(qAbs(p.packClock().secsTo(p.pc)) <= 2, qPrintable(p.packClock().toString()));
        QCOMPARE(p.model.reg(82), quint16(20000)); // LD's factory value
    }

    // While a sequence runs, Read, Write, Restore and Open set… are off, and pressing
    // them anyway changes nothing: the three frames go out once, in order.
    void oneSequenceAtATime()
    {
        Pace p;
        QVERIFY(p.online());
        PresetParameters *page = p.window.parameterPage();
        child<QPushButton>(page, "collect")->click();
        QVERIFY(!child<QPushButton>(page, "set")->isEnabled());
        p.secondsUntil([page] { return !page->isBusy(); }, 3);
        child<QCheckBox>(page, "BALANCE")->setChecked(true);
        page->field("BALANCE_OPEN_V")->setText("3.45");
        child<QPushButton>(page, "set")->click();
        for (const char *name : {"collect", "set", "factory_reset", "openSet"})
            QVERIFY2(!child<QPushButton>(page, name)->isEnabled(), name);
        p.second();
        QVERIFY(!page->startWrite() && !page->startFactoryReset());
        page->on_collect_clicked();
        p.secondsUntil([&] { return !e.boxes.isEmpty(); }, 10);
        QCOMPARE(e.boxes, QStringList("successful: Parameter modification was successful!!!"));
        QCOMPARE(p.writes, QList<quint16>({56, 57, 58}));
        QCOMPARE(p.reads, 2); // Read, and the read-back
        for (const char *name : {"collect", "set", "factory_reset", "openSet"})
            QVERIFY2(child<QPushButton>(page, name)->isEnabled(), name);
    }

    // On the page, values that break a rule ask first, Cancel the default: cancelled,
    // nothing is sent; "Write anyway" writes them.
    void pageAsksBeforeImplausibleValues()
    {
        Pace p;
        QVERIFY(p.online());
        PresetParameters *page = p.window.parameterPage();
        child<QCheckBox>(page, "CUV")->setChecked(true);
        for (auto [field, text] : {std::pair{"CUVW", "2.500"}, {"CUVP", "2.700"}, {"CUVR", "3.100"}})
            page->field(field)->setText(text);
        int answer = QMessageBox::Ok; // neither button: Cancel
        Dialogs::setHook([&](const Dialogs::Request &r, QString *) {
            e.boxes << r.title + ": " + r.text;
            return r.kind == Dialogs::Request::Confirm ? answer : int(QMessageBox::Ok);
        });
        for (int a : {int(QMessageBox::Ok), 0}) {
            answer = a;
            e.boxes.clear();
            child<QPushButton>(page, "set")->click();
            p.secondsUntil([&] { return !e.boxes.isEmpty() && !page->isBusy(); }, 10);
            QCOMPARE(e.boxes.value(0), QStringLiteral("Warning: These settings may harm the pack:\n\nCell UV Protect 2.700 V must "
                                                     "not be above Cell UV Warn 2.500 V\n\nWrite anyway?"));
        }
        QCOMPARE(p.writes, QList<quint16>({61, 62, 63}));
        QCOMPARE(p.model.reg(62), quint16(2700));
    }

    // A sequence that ends early says why and how far it got, in the chain's order.
    void endsWithItsReport_data()
    {
        columns<QString, QString>("how", "reason");
        const QString rest = "OCTP, OCTR, ODT, OCC, ODC, PCB_OT, AVG_OT, AVG_UT, BALANCE, HEATING_ON_OFF; "
                             "the pack holds a mix, write the set again";
        QTest::newRow("acknowledgements stop") << "no ack"
            << "write failed: no acknowledgement for register 94 (OCTP) after three sends; wrote 19 of 51 registers "
               "(CUV, COV, UV, OV, UCT, UDT, OCTW); not written: " + rest;
        QTest::newRow("SIGTERM") << "signal"
            << "write failed: stopped by SIGTERM; wrote 19 of 51 registers (CUV, COV, UV, OV, UCT, UDT, OCTW); "
               "not written: " + rest;
    }
    void endsWithItsReport()
    {
        QFETCH(QString, how);
        Pace p;
        const QString name = readSet(p);
        QVERIFY(!name.isEmpty());
        p.writes.clear();
        Job job(p, ParameterSetJob::WriteSet, name);
        QVERIFY(p.secondsUntil([&p] { return p.writes.size() == 19; }) > 0);
        if (how == "no ack")
            p.ackWrites = false;
        else
            job.job.interrupt("stopped by SIGTERM");
        p.secondsUntil([&job] { return job.done(); }, 10);
        QCOMPARE(job.code, 1);
        QTEST(job.reason, "reason");
    }
};

QTEST_MAIN(TstParameterWrite)
#include "tst_parameterwrite.moc"
