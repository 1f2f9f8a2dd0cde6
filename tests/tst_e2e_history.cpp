// The history end to end: after a few ticks monitoring the BMS simulator, table `total` holds one row per
// monitoring answer in the communication log with the values it carried, stamped by the parameter page's clock.
#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "link/crc16.h"
#include "pages/historymonitoring.h"
#include "store/recordtablemodel.h"
#include "support/simprocess.h"
#include "support/testenv.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

namespace {

// The monitoring answers among the logged lines: address 1, function 3,
// 78 data bytes, good CRC.
QList<QByteArray> monitoringAnswers(const CommLog &log)
{
    const QString in = QStringLiteral("IN←◆");
    QList<QByteArray> answers;
    for (qint64 i = 0; i < log.lineCount(); ++i) {
        const QString line = log.line(i);
        const QByteArray frame = QByteArray::fromHex(line.mid(in.size()).toLatin1());
        if (line.startsWith(in) && frame.size() == 83 && quint8(frame[1]) == 3 && quint8(frame[2]) == 78
            && crc16Modbus(frame.left(81)) == quint16(quint8(frame[81]) | quint8(frame[82]) << 8))
            answers << frame;
    }
    return answers;
}

// The numbers stored for an answer, in column order after the time.
QVector<qint64> expectedNumbers(const QByteArray &frame)
{
    auto reg = [&frame](int r) { return quint16(quint8(frame[3 + 2 * r]) << 8 | quint8(frame[4 + 2 * r])); };
    const quint16 status = reg(25);
    QVector<qint64> v{status & 0xF, status >> 15, reg(26), reg(27), reg(28), reg(29), qint16(reg(1)), reg(22),
                      reg(0), reg(24), reg(23), qint16(reg(18)), qint16(reg(19)), reg(20),
                      qint8(reg(33) >> 8), qint8(reg(33) & 0xFF), qint8(reg(34) >> 8), qint8(reg(34) & 0xFF)};
    for (int k = 0; k < 16; ++k)
        v << reg(2 + k);
    v << reg(37) << reg(21);
    return v;
}

} // namespace

class TestE2eHistory : public QObject
{
    Q_OBJECT

private slots:
    void oneRowPerMonitoringAnswer()
    {
        TestEnv::openFreshDatabases();
        Dialogs::setHook([](const Dialogs::Request &r, QString *) {
            return qWarning() << "unexpected box" << r.title << r.text, int(QMessageBox::Ok);
        });
        SimProcess sim;
        // A quote in the model text is stored as it is.
        QVERIFY2(sim.start({"--model", "O'Neill 16S 280Ah", "--version-text", "V2.7", "--serial", "SN-HIST-0007"}),
                 qPrintable(sim.errorString()));
        MainWindow w;
        HistoryMonitoring *page = w.historyPage();
        w.setPortName(sim.deviceName());
        w.on_monitorBtn_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(page->model()->rowCount() >= 3, 30000);
        w.on_monitorBtn_clicked(); // stop; an answer still on its way is not read
        QVERIFY(!w.isMonitoring());
        sim.stop();
        const QList<QByteArray> answers = monitoringAnswers(w.commLog());
        QCOMPARE(page->model()->rowCount(), answers.size());
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
        QVERIFY(q.exec(RecordTable::history().selectList() + QStringLiteral(" order by id")));
        const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        QString previousTime;
        int row = 0;
        while (q.next()) {
            QVERIFY2(row < answers.size(), "more rows than monitoring answers");
            QCOMPARE(q.value(0).toLongLong(), qint64(row + 1));
            const QString time = q.value(1).toString();
            QVERIFY2(clock.match(time).hasMatch(), qPrintable(time));
            QVERIFY(time >= previousTime);
            previousTime = time;
            const QVector<qint64> expected = expectedNumbers(answers.at(row));
            QString stored, served;
            for (int c = 0; c < expected.size(); ++c) {
                const QString name = RecordTable::history().columns.at(1 + c).name + '=';
                stored += name + QString::number(q.value(2 + c).toLongLong()) + ' ';
                served += name + QString::number(expected.at(c)) + ' ';
            }
            QCOMPARE(stored, served);
            QCOMPARE(QStringList({q.value(38).toString(), q.value(39).toString(), q.value(40).toString()}).join('|'),
                     QStringLiteral("O'Neill 16S 280Ah|V2.7|SN-HIST-0007"));
            ++row;
        }
        QCOMPARE(row, answers.size());

        // The newest sample on top, shown by the display rules.
        const quint16 voltage = quint16(quint8(answers.last()[3]) << 8 | quint8(answers.last()[4]));
        QCOMPARE(page->model()->index(0, 9).data().toString(),
                 RecordTable::displayText(RecordTable::Rule::Hundredths, voltage, 1));
        QCOMPARE(page->model()->index(0, 0).data().toString() + '|' + page->model()->index(0, 37).data().toString(),
                 previousTime + "|O'Neill 16S 280Ah");
    }
};

QTEST_MAIN(TestE2eHistory)
#include "tst_e2e_history.moc"
