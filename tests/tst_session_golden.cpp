// A whole scripted session at the pace users run, recorded frame by frame
// and row by row: going online and monitoring, a parameter read, a write
// sequence and its read-back, a record read, a lost port found again, an
// address command. The record is compared with tests/golden/session.txt, so
// that moving the conversation's code about changes nothing on the wire and
// nothing in the stored tables. PACKSCOPE_GOLDEN_WRITE=1 writes the file
// anew, for a change that is meant to show there.
#include "pages/bmsdatalog.h"
#include "pages/pandidrw.h"
#include "pages/presetparameters.h"
#include "support/e2e.h"
#include "support/pace.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {
// The rows of `table`, their columns joined, without those that depend on
// the run (the row id, the PC's time of a sample).
QStringList rows(const char *connection, const char *table, const QStringList &skip)
{
    QStringList out;
    QSqlQuery q(QSqlDatabase::database(QLatin1String(connection)));
    q.exec(QStringLiteral("select * from %1 order by id").arg(QLatin1String(table)));
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i)
            if (!skip.contains(q.record().fieldName(i)))
                values << q.value(i).toString();
        out << QStringLiteral("%1: %2").arg(QLatin1String(table), values.join(QLatin1Char(' ')));
    }
    return out;
}
} // namespace

class TstSessionGolden : public QObject
{
    Q_OBJECT
    E2e e; // fresh databases, the box hook

private slots:
    void session()
    {
        Pace p;
        QStringList record;
        p.onExchange = [&record](const QByteArray &request, const QByteArray &answer) {
            record << "> " + request.toHex() << "< " + answer.toHex();
        };
        const auto step = [&record](const char *what) { record << QStringLiteral("# ") + what; };
        step("online, then monitoring");
        QVERIFY(p.online());
        p.second(), p.second();
        step("parameter read");
        PresetParameters *page = p.window.parameterPage();
        child<QPushButton>(page, "collect")->click();
        p.second(), p.second();
        step("write of BALANCE, read back");
        child<QCheckBox>(page, "BALANCE")->setChecked(true);
        page->field("BALANCE_OPEN_V")->setText("3.45");
        child<QPushButton>(page, "set")->click();
        QVERIFY(p.secondsUntil([page] { return !page->isBusy(); }, 10) > 0);
        p.second();
        step("records 1-2");
        BmsDatalog *datalog = p.window.datalogPage();
        datalog->setRangeText("1", "2");
        datalog->on_pushButton_clicked();
        QVERIFY(p.secondsUntil([datalog] { return !datalog->isReading(); }, 10) > 0);
        p.second();
        step("the port lost and found again");
        p.port->breakDown();
        QTRY_VERIFY(p.window.link()->isWaitingForPort());
        QTRY_VERIFY_WITH_TIMEOUT(!p.window.link()->isWaitingForPort(), E2e::Deadline); // a second's watch
        QVERIFY(p.secondsUntil([page] { return child<QPushButton>(page, "set")->isEnabled(); }, 5) > 0);
        p.second();
        step("monitoring stopped, the pack's ID read");
        p.window.on_monitorBtn_clicked();
        p.window.addressPage()->on_current_id_clicked();
        p.answerAndWait();
        record << rows("connection1", "total", {"id", "time"}) << rows("connection2", "record", {"id"});
        record << e.boxes;

        const QString golden = QStringLiteral(GOLDEN_DIR "/session.txt");
        const QByteArray text = record.join('\n').toUtf8() + '\n';
        if (qEnvironmentVariableIsSet("PACKSCOPE_GOLDEN_WRITE")) {
            QFile f(golden);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
            QSKIP("golden record written");
        }
        const QStringList expected = QString::fromUtf8(readFile(golden)).split('\n');
        const QStringList actual = QString::fromUtf8(text).split('\n');
        for (int i = 0; i < qMax(expected.size(), actual.size()); ++i)
            QVERIFY2(expected.value(i) == actual.value(i),
                     qPrintable(QStringLiteral("line %1: expected \"%2\", got \"%3\"").arg(i + 1).arg(expected.value(i), actual.value(i))));
    }
};

QTEST_MAIN(TstSessionGolden)
#include "tst_session_golden.moc"
