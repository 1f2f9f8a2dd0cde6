// The ID and protocol commands on fixed bytes: the requests, which answer
// belongs to which command, the ID editor's limit and protocol list answers
// read within their bounds.
#include "link/addresscommands.h"
#include "link/crc16.h"
#include <QtTest>

using namespace AddressCommands;

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
// Ten bytes of a name record.
QByteArray record(const char *name) { return QByteArray(name).leftJustified(NameBytes, '\0', true); }
// A list answer: 0x10, code, N, current, count, records, two CRC bytes.
QByteArray listAnswer(quint8 current, quint8 count, const QByteArray &records, int n = -1)
{
    QByteArray frame = hex("1003");
    frame.append(char(n < 0 ? 2 + records.size() : n)).append(char(current)).append(char(count));
    return frame + records + hex("0000");
}
} // namespace

class TestAddressCommands : public QObject
{
    Q_OBJECT
private slots:
    void requests_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("onTheLine"); // with the CRC computed at send time
        QTest::newRow("read ID") << readRequest(ReadId) << hex("1002007165");
        QTest::newRow("read RS485") << readRequest(ReadRs485Protocol) << hex("10030070F5");
        QTest::newRow("read CAN") << readRequest(ReadCanProtocol) << hex("10040072C5");
        QTest::newRow("set ID 12") << setRequest(SetId, 12) << hex("1007010CB4B0");
        QTest::newRow("set RS485 1") << setRequest(SetRs485Protocol, 1) << hex("10050101D4B5");
        QTest::newRow("set CAN 1") << setRequest(SetCanProtocol, 1) << hex("1006010124B5");
    }
    void requests()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, onTheLine);
        // Read requests are prepared whole; set requests leave the CRC's place
        // zero until they are sent.
        if (frame.size() == 5)
            QCOMPARE(frame, onTheLine);
        else
            QCOMPARE(frame, onTheLine.left(4) + hex("0000"));
        sealFrame(frame);
        QCOMPARE(frame, onTheLine);
    }

    void idEditor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("sent"); // -1: refused
        QTest::newRow("in range") << "12" << "12" << 12;
        QTest::newRow("one digit") << "5" << "5" << 5;
        QTest::newRow("64") << "64" << "64" << 64;
        QTest::newRow("65") << "65" << "64" << 64;
        QTest::newRow("70") << "70" << "64" << 64;
        QTest::newRow("640") << "640" << "64" << 64;
        QTest::newRow("many digits") << "99999999999999999999" << "64" << 64;
        QTest::newRow("empty") << "" << "" << -1;
        QTest::newRow("0 from the pack") << "0" << "0" << -1;
    }
    void idEditor()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QCOMPARE(limitedIdText(typed), shown);
        QTEST(idToSend(shown), "sent");
    }
    void protocolList_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("current");
        QTest::newRow("padded and 10 characters")
            << listAnswer(1, 2, record("RS485") + record("MODBUS-RTU")) << QStringList{"RS485", "MODBUS-RTU"} << 1;
        QTest::newRow("bytes after the zero")
            << listAnswer(0, 1, QByteArray("AB\0CDEFGHI", 10)) << QStringList{"AB"} << 0;
        QTest::newRow("none") << listAnswer(0, 0, QByteArray()) << QStringList{} << -1;
        QTest::newRow("count beyond the records")
            << listAnswer(0, 5, record("A") + record("B")) << QStringList{"A", "B"} << 0;
        QTest::newRow("part of a record")
            << listAnswer(0, 2, record("A") + QByteArray("BC")) << QStringList{"A"} << 0;
        QTest::newRow("index outside the list")
            << listAnswer(2, 2, record("A") + record("B")) << QStringList{"A", "B"} << -1;
        QTest::newRow("N beyond the frame")
            << listAnswer(0, 2, record("A") + record("B"), 60) << QStringList{"A", "B"} << 0;
        QTest::newRow("no count byte") << hex("1003010000") << QStringList{} << -1;
    }
    void protocolList()
    {
        QFETCH(QByteArray, frame);
        const ProtocolList list = parseProtocolList(frame);
        QTEST(list.names, "names");
        QTEST(list.current, "current");
    }
};

QTEST_MAIN(TestAddressCommands)
#include "tst_addresscommands.moc"
