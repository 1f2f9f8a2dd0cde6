// The datalog page without a link: record reads, range clamps, a record stored
// and shown, and the answers that are not stored.
#include "link/recordread.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/schema.h"
#include "support/helpers.h"
#include "support/fakebms.h"
#include "support/testenv.h"

#include <QBrush>
#include <QLineEdit>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

QVariant stored(int column, qint64 id)
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection2")));
    q.prepare("select " + RecordTable::datalog().columns.at(column).name + " from record where id=?");
    q.addBindValue(id);
    return q.exec() && q.next() ? q.value(0) : QVariant(QStringLiteral("<no row>"));
}

void exec(const QString &sql) { QSqlQuery(QSqlDatabase::database(QStringLiteral("connection2"))).exec(sql); }

} // namespace

class TestDatalog : public QObject
{
    Q_OBJECT

    std::unique_ptr<BmsDatalog> page;
    QLineEdit *field(const char *name) const { return page->findChild<QLineEdit *>(name); }
    QString cell(int row, int column) const { return page->model()->index(row, column).data().toString(); }
    int rows() const { return page->model()->rowCount(); }

    void start(int begin, int end)
    {
        page->setRangeText(QString::number(begin), QString::number(end));
        page->on_pushButton_clicked();
    }
    // What the dispatcher does with an answer to `request`.
    void answer(const QByteArray &request, const QVector<quint16> &registers)
    {
        page->setAnsweredRequest(request);
        page->storeRecordAnswer(readAnswer(1, registers));
        page->insertRecord();
        page->prepareNextRequest();
    }
    void answerPrepared(const QVector<quint16> &registers) { answer(page->requestFrame(), registers); }
    void answerPrepared(quint16 all) { answerPrepared(QVector<quint16>(28, all)); }
    int recordRead() const { return RecordRead::recordOfRequest(page->requestFrame()); }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void init()
    {
        TestEnv::resetLiveData();
        liveData().language = 1;
        page.reset();
        exec(QStringLiteral("drop table if exists record"));
        exec(QString::fromLatin1(Schema::CreateRecordTable));
        page = std::make_unique<BmsDatalog>();
    }

    void requestFrames_data()
    {
        columns<int, QByteArray>("record", "frame");
        QTest::newRow("1") << 1 << QByteArray::fromHex("01030200001C45BB");
        QTest::newRow("2") << 2 << QByteArray::fromHex("01030220001C4471");
        QTest::newRow("679") << 679 << QByteArray::fromHex("010356C0001C55B7");
        QTest::newRow("680") << 680 << QByteArray::fromHex("010356E0001C547D");
    }
    void requestFrames()
    {
        QFETCH(int, record);
        start(record, record);
        QCOMPARE(liveData().nextRequest, quint16(DatalogRead));
        QTEST(page->requestFrame(), "frame");
        QCOMPARE(recordRead(), record);
    }

    void rangeFields_data()
    {
        // left: the field left, or "start"
        columns<QString, QString, QString, QString>("left", "begin", "end", "expected");
        QTest::newRow("end 999") << "end" << "1" << "999" << "1-680";
        QTest::newRow("begin 0") << "begin" << "0" << "680" << "1-680";
        QTest::newRow("begin above end") << "begin" << "50" << "20" << "20-20";
        QTest::newRow("end below begin") << "end" << "50" << "20" << "50-50";
        QTest::newRow("begin and end above 680") << "end" << "999" << "999" << "999-680";
        QTest::newRow("start, empty begin") << "start" << "" << "20" << "1-20";
        QTest::newRow("start, empty end") << "start" << "50" << "" << "50-50";
        QTest::newRow("start, both empty") << "start" << "" << "" << "1-1";
        QTest::newRow("start, beyond the log") << "start" << "999" << "999" << "680-680";
    }
    void rangeFields()
    {
        QFETCH(QString, left);
        QFETCH(QString, begin);
        QFETCH(QString, end);
        page->setRangeText(begin, end);
        if (left == "begin")
            page->on_begin_num_le_editingFinished();
        else if (left == "end")
            page->on_end_num_le_editingFinished();
        else
            page->on_pushButton_clicked();
        QTEST(field("begin_num_le")->text() + '-' + field("end_num_le")->text(), "expected");
        if (left == "start") { // the run reads what the fields show
            QCOMPARE(recordRead(), field("begin_num_le")->text().toInt());
            QCOMPARE(page->endRecord(), field("end_num_le")->text().toUShort());
        }
    }

    void recordColumn_data()
    {
        columns<int, int, int, QVariant, QString>("reg", "value", "column", "storedValue", "shown");
        // 23/9/5 3:50:37 packed: 23<<26 | 9<<22 | 5<<17 | 3<<12 | 50<<6 | 37
        const quint32 time = 0x5E4A3CA5;
        QTest::newRow("date-time") << -1 << int(time) << 1 << QVariant(QString::number(time)) << "2023-09-05 03:50:37";
        QTest::newRow("current -200") << 7 << 0xFF38 << 8 << QVariant(-200) << "-2.00";
        QTest::newRow("temperature 1 0xFB") << 9 << 0xFB19 << 10 << QVariant(-5) << "-5";
        QTest::newRow("temperature 2 0x19") << 9 << 0xFB19 << 11 << QVariant(25) << "25";
        QTest::newRow("cell 1 3301") << 12 << 3301 << 14 << QVariant(3301) << "3.301";
        QTest::newRow("protection state") << 2 << 0x8004 << 2 << QVariant(4) << "Protection";
        QTest::newRow("heater") << 2 << 0x8004 << 3 << QVariant(1) << "on";
        QTest::newRow("protection flags") << 4 << 171 << 5 << QVariant(171) << "00AB";
    }
    void recordColumn()
    {
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(int, column);
        QFETCH(QVariant, storedValue);
        QFETCH(QString, shown);
        QVector<quint16> registers(28, 0);
        if (reg < 0)
            registers[0] = quint16(quint32(value) >> 16), registers[1] = quint16(value & 0xFFFF);
        else
            registers[reg] = quint16(value);
        start(17, 17);
        answerPrepared(registers);
        QCOMPARE(rows(), 1);
        QCOMPARE(stored(0, 1).toInt(), 17);
        QCOMPARE(stored(column, 1).toString(), storedValue.toString());
        QCOMPARE(cell(0, column), shown);
        QCOMPARE(page->model()->index(0, column).data(Qt::BackgroundRole).value<QBrush>(),
                 shown == "Protection" ? QBrush(Qt::red) : QBrush());
        QVERIFY(!page->isReading() && liveData().nextRequest == MonitorRead); // range 17..17 is done
    }

    // A serial number with quotes is stored as it is; Clear restarts the ids.
    void serialNumberAndClear()
    {
        const QByteArray serial = QByteArray("O'Hara \"7\"").leftJustified(16, '\0');
        for (int i = 0; i < 16; i += 2)
            liveData().registerImage[Reg::SerialText + i / 2] = quint16(quint8(serial[i]) << 8 | quint8(serial[i + 1]));
        start(1, 2);
        answerPrepared(1);
        answerPrepared(2);
        QCOMPARE(stored(30, 2).toString(), QStringLiteral("O'Hara \"7\""));
        QCOMPARE(cell(0, 30) + '|' + cell(0, 0) + '|' + cell(1, 0), QStringLiteral("O'Hara \"7\"|2|1"));
        page->on_clearBtn_clicked();
        QCOMPARE(rows(), 0);
        start(5, 5);
        answerPrepared(5);
        QCOMPARE(page->model()->idAt(0), qint64(1));
        QCOMPARE(stored(0, 1).toInt(), 5);
    }

    // Answers to another read store nothing and the read is sent again; a
    // refused record waits and is stored before the next one.
    void answersNotStored()
    {
        start(5, 7);
        const QByteArray read5 = page->requestFrame();
        answer(RecordRead::requestFrame(4), QVector<quint16>(28, 4)); // late, from an earlier run
        answer(QByteArray(), QVector<quint16>(28, 4));                 // nothing in flight
        QCOMPARE(rows(), 0);
        QCOMPARE(page->requestFrame(), read5);
        answer(read5, QVector<quint16>(28, 5));
        QCOMPARE(cell(0, 0), QStringLiteral("5"));
        answer(read5, QVector<quint16>(28, 5)); // the same answer twice
        QCOMPARE(rows(), 1);

        exec(QStringLiteral("drop table record")); // the database refuses record 6
        answerPrepared(6);
        QCOMPARE(rows(), 1);
        QCOMPARE(page->queue()->waiting(), 1);
        QCOMPARE(recordRead(), 7);
        exec(QString::fromLatin1(Schema::RecreateRecordTable));
        QVector<quint16> longer(30, 7); // more registers than a record: the first 28 count
        longer[27] = 3301;
        answerPrepared(longer);
        QCOMPARE(cell(0, 0) + ' ' + cell(1, 0) + ' ' + cell(0, 29), QStringLiteral("7 6 3.301"));
        QCOMPARE(liveData().recordRegisters[27], quint16(3301));
        QVERIFY(!page->isReading());
    }

    // A fast read met by the previous answer again stores nothing; the record
    // is read again on a tick, where an equal answer is taken.
    void fastReadRepeatedAnswer()
    {
        page->setFastRead(true);
        start(1, 3);
        QVERIFY(!page->wantsPollSoon()); // the first read goes out on a tick
        answerPrepared(1);
        QVERIFY(page->wantsPollSoon());
        answerPrepared(1); // record 2's read met by record 1's answer
        QCOMPARE(rows(), 1);
        QVERIFY(!page->wantsPollSoon());
        QCOMPARE(recordRead(), 2);
        answerPrepared(1); // read on a tick: record 2 is like record 1
        QCOMPARE(cell(0, 0), QStringLiteral("2"));
        QVERIFY(page->wantsPollSoon());
    }

    void fastGap_data()
    {
        columns<int>("ms"); // 3.5 characters of 11 bits at the row's baud rate, rounded up
        QTest::newRow("1200") << 33;  // 32.08 ms
        QTest::newRow("9600") << 5;   // 4.01 ms
        QTest::newRow("115200") << 1; // 0.33 ms
    }
    void fastGap()
    {
        QTEST(RecordRead::fastGapMs(QByteArray(QTest::currentDataTag()).toInt()), "ms");
    }
};

QTEST_MAIN(TestDatalog)
#include "tst_datalog.moc"
