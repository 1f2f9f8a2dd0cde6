// CRC, request frames byte for byte, cutting and checking answers, which answer
// belongs to the request in flight, and the address page's commands.
#include "link/addresscommands.h"
#include "link/frames.h"
#include "support/helpers.h"
#include <QtTest>

namespace {
QByteArray readAnswer(quint8 address, int dataBytes)
{
    QByteArray body;
    body.append(char(address)).append(char(0x03)).append(char(dataBytes));
    for (int i = 0; i < dataBytes; ++i)
        body.append(char(i * 7 + 1));
    return sealed(body);
}

// How far a burst gets: dropped unchecked, dropped by a check, or accepted.
enum Outcome { NotForUs, Incomplete, Accepted, BadLength, BadCrc };

Outcome outcome(const QByteArray &held, quint8 selected)
{
    const Frames::Burst burst = Frames::classifyBurst(held, selected);
    if (burst != Frames::Burst::Complete)
        return burst == Frames::Burst::NotForUs ? NotForUs : Incomplete;
    const Frames::Check check = Frames::checkAnswer(held);
    return check == Frames::Check::Ok ? Accepted : check == Frames::Check::BadLength ? BadLength : BadCrc;
}
// Ten bytes of a name record.
QByteArray record(const char *name) { return QByteArray(name).leftJustified(AddressCommands::NameBytes, '\0', true); }
// A list answer: 0x10, code, N, current, count, records, two CRC bytes.
QByteArray listAnswer(quint8 current, quint8 count, const QByteArray &records, int n = -1)
{
    QByteArray frame = hex("1003");
    frame.append(char(n < 0 ? 2 + records.size() : n)).append(char(current)).append(char(count));
    return frame + records + hex("0000");
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void checksum()
    {
        QCOMPARE(crc16Modbus("123456789"), quint16(0x4B37)); // the check string
        QCOMPARE(crc16Modbus(hex("010300000027")), quint16(0xD005));
    }
    void requestFrames_data()
    {
        columns<QByteArray, QByteArray>("frame", "expected");
        const quint16 one = 3300, two[2] = {0x1234, 0xABCD};
        QTest::newRow("address 64") << Frames::monitorRead(64) << hex("4003000000270AC1");
        QTest::newRow("write 67=3300") << Frames::writeRegisters(1, 67, &one, 1) << hex("011000430001020CE4ADE8");
        QTest::newRow("write two") << Frames::writeRegisters(1, 45, two, 2).left(11) << hex("0110002D0002041234ABCD");
        QTest::newRow("record 0") << Frames::recordRead(1, 0) << hex("010301E0001C4409");
    }
    void requestFrames()
    {
        QFETCH(QByteArray, frame);
        QTEST(frame, "expected");
    }
    void framing_data()
    {
        columns<QByteArray, int, int>("held", "selected", "result");
        const QByteArray monitor = readAnswer(1, 78);
        QByteArray corrupt = monitor;
        corrupt[40] = char(corrupt[40] ^ 0x01);
        QTest::newRow("monitoring answer") << monitor << 1 << int(Accepted);
        QTest::newRow("one byte short") << monitor.left(82) << 1 << int(Incomplete);
        QTest::newRow("stray byte after answer") << monitor + hex("00") << 1 << int(BadLength);
        QTest::newRow("bit flipped") << corrupt << 1 << int(BadCrc);
        QTest::newRow("wrong first byte") << monitor << 2 << int(NotForUs);
        const QByteArray idAnswer = sealed(hex("10020105"));
        QTest::newRow("0x10 answer, address 64") << idAnswer << 64 << int(Accepted);
        QTest::newRow("0x10 answer, incomplete") << idAnswer.left(5) << 5 << int(Incomplete);
        const QByteArray ack = hex("0110020000010071");
        QTest::newRow("write ack, register 0x0200") << ack << 1 << int(Accepted);
        QTest::newRow("write ack, 7 of 8") << ack.left(7) << 1 << int(Incomplete);
        QTest::newRow("exception 0x83 code 2") << hex("018302C0F1") << 1 << int(Accepted);
        QTest::newRow("exception 0x83 code 0") << hex("0183004130") << 1 << int(Accepted);
        QTest::newRow("exception 0x90 code 1") << hex("0190018DC0") << 1 << int(Accepted);
        QTest::newRow("exception, 4 of 5") << hex("018302C0") << 1 << int(Incomplete);
        QTest::newRow("exception, bad CRC") << hex("018302F1C0") << 1 << int(BadCrc);
    }
    void framing()
    {
        QFETCH(QByteArray, held);
        QFETCH(int, selected);
        QTEST(int(outcome(held, quint8(selected))), "result");
        if (held.size() == 5 && outcome(held, quint8(selected)) == Accepted)
            QVERIFY(Frames::isException(held));
    }
    // Answers' CRCs are left at zero (not looked at), but for the acknowledgements.
    void replyToRequest_data()
    {
        columns<QByteArray, QByteArray, int>("answer", "request", "reply");
        const int answer = int(Frames::Reply::Answer), refusal = int(Frames::Reply::Refusal),
                  unrelated = int(Frames::Reply::Unrelated);
        const QByteArray identity = hex("010300690017D5D8"), monitor = hex("01030000002705D0"),
                         write67 = hex("011000430001020CE4ADE8"), clock = hex("0110002D0002046B1A9AF5A72A"),
                         readId = hex("1002007165");
        QTest::newRow("identity 46") << readAnswer(1, 46) << identity << answer;
        QTest::newRow("monitoring 78") << readAnswer(1, 78) << monitor << answer;
        QTest::newRow("late monitoring answer, identity asked") << readAnswer(1, 78) << identity << unrelated;
        QTest::newRow("other address") << readAnswer(2, 78) << monitor << unrelated;
        QTest::newRow("read refused") << hex("0183020000") << monitor << refusal;
        QTest::newRow("other function refused") << hex("0190020000") << monitor << unrelated;
        QTest::newRow("echo of register 67") << hex("011000430001F01D") << write67 << answer;
        QTest::newRow("echo of register 68") << hex("01100044000141DC") << write67 << unrelated;
        QTest::newRow("acknowledgement of two registers") << hex("0110004300020000") << write67 << unrelated;
        QTest::newRow("clock frame") << hex("0110002D0002D1C1") << clock << answer;
        QTest::newRow("clock frame, one register echoed") << hex("0110002D000191C0") << clock << unrelated;
        QTest::newRow("acknowledgement, nothing in flight") << hex("011000430001F01D") << QByteArray() << unrelated;
        QTest::newRow("acknowledgement, a read in flight") << hex("011000430001F01D") << monitor << unrelated;
        QTest::newRow("write refused") << hex("0190040000") << write67 << refusal;
        QTest::newRow("read answer to a write") << readAnswer(1, 2) << write67 << unrelated;
        QTest::newRow("command answered") << hex("10020105 0000") << readId << answer;
        QTest::newRow("other command") << hex("10030105 0000") << readId << unrelated;
        QTest::newRow("read answer to a command") << readAnswer(1, 2) << readId << unrelated;
        QTest::newRow("slave 16 read") << readAnswer(16, 78) << hex("100300000027 0691") << answer;
    }
    void replyToRequest()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QTEST(int(Frames::replyTo(answer, request)), "reply");
    }

    void addressCommands_data()
    {
        columns<QByteArray, QByteArray>("frame", "onTheLine");
        QTest::newRow("read ID") << AddressCommands::readRequest(AddressCommands::ReadId) << hex("1002007165");
        QTest::newRow("read RS485") << AddressCommands::readRequest(AddressCommands::ReadRs485Protocol) << hex("10030070F5");
        QTest::newRow("read CAN") << AddressCommands::readRequest(AddressCommands::ReadCanProtocol) << hex("10040072C5");
        QTest::newRow("set ID 12") << AddressCommands::setRequest(AddressCommands::SetId, 12) << hex("1007010CB4B0");
        QTest::newRow("set RS485 1") << AddressCommands::setRequest(AddressCommands::SetRs485Protocol, 1) << hex("10050101D4B5");
        QTest::newRow("set CAN 1") << AddressCommands::setRequest(AddressCommands::SetCanProtocol, 1) << hex("1006010124B5");
    }
    void addressCommands()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, onTheLine);
        QCOMPARE(frame, frame.size() == 5 ? onTheLine : onTheLine.left(4) + hex("0000")); // set: CRC sealed when sent
        sealFrame(frame);
        QCOMPARE(frame, onTheLine);
    }

    void idEditor_data()
    {
        columns<QString, QString, int>("typed", "shown", "sent");
        QTest::newRow("in range") << "12" << "12" << 12;
        QTest::newRow("65") << "65" << "64" << 64;
        QTest::newRow("640") << "640" << "64" << 64;
        QTest::newRow("many digits") << "99999999999999999999" << "64" << 64;
        QTest::newRow("empty") << "" << "" << -1;
        QTest::newRow("0 from the pack") << "0" << "0" << -1;
    }
    void idEditor()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QCOMPARE(AddressCommands::limitedIdText(typed), shown);
        QTEST(AddressCommands::idToSend(shown), "sent");
    }
    void protocolList_data()
    {
        columns<QByteArray, QStringList, int>("frame", "names", "current");
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
        const AddressCommands::ProtocolList list = AddressCommands::parseProtocolList(frame);
        QTEST(list.names, "names");
        QTEST(list.current, "current");
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
