// The datalog page without a link: record reads, range clamps, a record stored
// and shown, and the answers that are not stored.
#include "protocol/recordread.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/schema.h"
#include "support/fakebms.h"
#include "support/helpers.h"
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

    std::unique_ptr<BmsSession> session;
    std::unique_ptr<BmsDatalog> page;
    DatalogReader *reader() const { return session->datalog(); }
    QString cell(int row, int column) const { return page->model()->index(row, column).data().toString(); }
    int rows() const { return page->model()->rowCount(); }

    void start(int b, int e) { page->setRangeText(QString::number(b), QString::number(e)), page->on_pushButton_clicked(); }
    // What the dispatcher does with an answer to `request`.
    void answer(const QByteArray &request, const QVector<quint16> &registers)
    {
        reader()->answered(request, readAnswer(1, registers));
    }
    void answerPrepared(const QVector<quint16> &registers) { answer(reader()->requestFrame(), registers); }
    void answerPrepared(quint16 all) { answerPrepared(QVector<quint16>(28, all)); }
    int recordRead() const { return RecordRead::recordOfRequest(reader()->requestFrame()); }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void init()
    {
        TestEnv::resetLiveData();
        page.reset();
        session = std::make_unique<BmsSession>();
        exec(QStringLiteral("drop table if exists record")), exec(QString::fromLatin1(Schema::CreateRecordTable));
        page = std::make_unique<BmsDatalog>();
        page->setSession(session.get());
        page->setLanguage(Language::English);
    }

    // left: the widget left ("pushButton": Start); a run reads what the fields show.
    void rangeFields_data()
    {
        columns<QString, QString, QString, QString, QByteArray>("left", "begin", "end", "expected", "frame");
        QTest::newRow("end 999") << "end_num_le" << "1" << "999" << "1|680" << QByteArray();
        QTest::newRow("begin 0") << "begin_num_le" << "0" << "680" << "1|680" << QByteArray();
        QTest::newRow("begin above end") << "begin_num_le" << "50" << "20" << "20|20" << QByteArray();
        QTest::newRow("end below begin") << "end_num_le" << "50" << "20" << "50|50" << QByteArray();
        QTest::newRow("begin and end above 680") << "end_num_le" << "999" << "999" << "999|680" << QByteArray();
        QTest::newRow("start, empty begin") << "pushButton" << "" << "20" << "1|20" << hex("01030200001C45BB");
        QTest::newRow("start, empty end") << "pushButton" << "2" << "" << "2|2" << hex("01030220001C4471");
        QTest::newRow("start, both empty") << "pushButton" << "" << "" << "1|1" << hex("01030200001C45BB");
        QTest::newRow("start, 679 to 999") << "pushButton" << "679" << "999" << "679|680" << hex("010356C0001C55B7");
        QTest::newRow("start, beyond the log") << "pushButton" << "999" << "999" << "680|680" << hex("010356E0001C547D");
    }
    void rangeFields()
    {
        QFETCH(QString, left);
        QFETCH(QString, begin);
        QFETCH(QString, end);
        page->setRangeText(begin, end);
        if (left == "pushButton")
            page->on_pushButton_clicked(); // the button itself waits for the link
        else
            emit child<QLineEdit>(page.get(), qPrintable(left))->editingFinished();
        QTEST(texts(page.get(), "begin_num_le|end_num_le"), "expected");
        if (left == "pushButton") {
            QTEST(reader()->requestFrame(), "frame");
            QVERIFY(liveData().nextRequest == DatalogRead && reader()->endRecord() == texts(page.get(), "end_num_le").toUInt());
        }
    }

    void recordColumn_data()
    {
        columns<QVector<int>, int, QString, QString>("registers", "column", "storedValue", "shown");
        // registers: pairs of register, value. 0x5E4A3CA5: 23<<26 | 9<<22 | 5<<17 | 3<<12 | 50<<6 | 37
        const struct { const char *tag; QVector<int> registers; int column; const char *storedValue, *shown; } rows[] = {
            {"date-time", {0, 0x5E4A, 1, 0x3CA5}, 1, "1581923493", "2023-09-05 03:50:37"},
            {"current -200", {7, 0xFF38}, 8, "-200", "-2.00"}, {"cell 1 3301", {12, 3301}, 14, "3301", "3.301"},
            {"temperature 1 0xFB", {9, 0xFB19}, 10, "-5", "-5"}, {"temperature 2 0x19", {9, 0xFB19}, 11, "25", "25"},
            {"protection state", {2, 0x8004}, 2, "4", "Protection"}, {"heater", {2, 0x8004}, 3, "1", "on"},
            {"protection flags", {4, 171}, 5, "171", "00AB"},
            {"serial number with quotes", {}, 30, "O'Hara \"7\"", "O'Hara \"7\""},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << r.registers << r.column << r.storedValue << r.shown;
    }
    void recordColumn()
    {
        QFETCH(QVector<int>, registers);
        QFETCH(int, column);
        QFETCH(QString, shown);
        QVector<quint16> answer(28, 0);
        for (int i = 0; i + 1 < registers.size(); i += 2)
            answer[registers[i]] = quint16(registers[i + 1]);
        const QByteArray serial = QByteArray("O'Hara \"7\"").leftJustified(16, '\0'); // stored as it is, quotes and all
        for (int i = 0; i < 16; i += 2)
            liveData().registerImage[Reg::SerialText + i / 2] = quint16(quint8(serial[i]) << 8 | quint8(serial[i + 1]));
        start(17, 17);
        answerPrepared(answer);
        QTEST(stored(column, 1).toString(), "storedValue");
        QCOMPARE(cell(0, column), shown);
        QCOMPARE(page->model()->index(0, column).data(Qt::BackgroundRole).value<QBrush>(),
                 shown == "Protection" ? QBrush(Qt::red) : QBrush());
    }

    // Answers to another read store nothing; a record the database refuses waits and is stored first.
    void answersNotStored()
    {
        start(5, 7);
        const QByteArray read5 = reader()->requestFrame();
        answer(RecordRead::requestFrame(4), QVector<quint16>(28, 4)); // late, from an earlier run
        answer(QByteArray(), QVector<quint16>(28, 4));                 // nothing in flight
        QVERIFY(rows() == 0 && reader()->requestFrame() == read5);
        answer(read5, QVector<quint16>(28, 5));
        QVERIFY(rows() == 1 && cell(0, 0) == "5");

        exec(QStringLiteral("drop table record")); // the database refuses record 6
        answerPrepared(6);
        QVERIFY(rows() == 1 && page->queue()->waiting() == 1 && recordRead() == 7);
        exec(QString::fromLatin1(Schema::RecreateRecordTable));
        QVector<quint16> longer(30, 7); // more registers than a record: the first 28 count
        longer[27] = 3301;
        answerPrepared(longer);
        QCOMPARE(cell(0, 0) + ' ' + cell(1, 0) + ' ' + cell(0, 29), QStringLiteral("7 6 3.301"));
        QVERIFY(liveData().recordRegisters[27] == 3301 && !page->isReading());
    }

    // A fast read met by the previous answer stores nothing; a read on a tick takes an equal answer.
    void fastReadRepeatedAnswer()
    {
        page->setFastRead(true);
        start(1, 3);
        QVERIFY(!reader()->wantsPollSoon()); // the first read goes out on a tick
        answerPrepared(1);
        QVERIFY(reader()->wantsPollSoon());
        answerPrepared(1); // record 2's read met by record 1's answer
        QVERIFY(rows() == 1 && !reader()->wantsPollSoon() && recordRead() == 2);
        answerPrepared(1); // read on a tick: record 2 is like record 1
        QVERIFY(cell(0, 0) == "2" && reader()->wantsPollSoon());
    }

    // 3.5 characters of 11 bits at the baud rate, rounded up: 32.08, 4.01 and 0.33 ms.
    void fastGap()
    {
        using RecordRead::fastGapMs;
        QCOMPARE(QVector<int>({fastGapMs(1200), fastGapMs(9600), fastGapMs(115200)}), QVector<int>({33, 5, 1}));
    }
};

QTEST_MAIN(TestDatalog)
#include "tst_datalog.moc"
