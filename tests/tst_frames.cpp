// CRC, cutting and checking answers, which answer belongs to the request in
// flight, and the address page's commands byte for byte.
#include "protocol/addresscommands.h"
#include "protocol/frames.h"
#include "support/helpers.h"
#include <QtTest>

namespace {
QByteArray readAnswer(quint8 address, int dataBytes) { return readAnswer(address, QVector<quint16>(dataBytes / 2, 0x0107)); }

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
    return hex("1003") + char(n < 0 ? 2 + records.size() : n) + char(current) + char(count) + records + hex("0000");
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void framing_data()
    {
        columns<QByteArray, int, int>("held", "selected", "result");
        const QByteArray monitor = readAnswer(1, 78), idAnswer = sealed(hex("10020105")), ack = hex("0110020000010071");
        QByteArray corrupt = monitor;
        corrupt[40] = char(corrupt[40] ^ 0x01);
        const struct { const char *tag; QByteArray held; int selected; Outcome result; } rows[] = {
            {"monitoring answer", monitor, 1, Accepted}, {"one byte short", monitor.left(82), 1, Incomplete},
            {"stray byte after answer", monitor + hex("00"), 1, BadLength}, {"bit flipped", corrupt, 1, BadCrc},
            {"wrong first byte", monitor, 2, NotForUs}, {"0x10 answer, address 64", idAnswer, 64, Accepted},
            {"0x10 answer, incomplete", idAnswer.left(5), 5, Incomplete},
            {"write ack, register 0x0200", ack, 1, Accepted}, {"write ack, 7 of 8", ack.left(7), 1, Incomplete},
            {"exception 0x83 code 2", hex("018302C0F1"), 1, Accepted}, {"exception 0x83 code 0", hex("0183004130"), 1, Accepted},
            {"exception 0x90 code 1", hex("0190018DC0"), 1, Accepted}, {"exception, 4 of 5", hex("018302C0"), 1, Incomplete},
            {"exception, bad CRC", hex("018302F1C0"), 1, BadCrc},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << r.held << r.selected << int(r.result);
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
        const Frames::Reply answer = Frames::Reply::Answer, refusal = Frames::Reply::Refusal, unrelated = Frames::Reply::Unrelated;
        const QByteArray identity = hex("010300690017D5D8"), monitor = hex("01030000002705D0"),
                         write67 = hex("011000430001020CE4ADE8"), clock = hex("0110002D0002046B1A9AF5A72A"),
                         readId = hex("1002007165"), ack67 = hex("011000430001F01D");
        const struct { const char *tag; QByteArray answer, request; Frames::Reply reply; } rows[] = {
            {"identity 46", readAnswer(1, 46), identity, answer}, {"monitoring 78", readAnswer(1, 78), monitor, answer},
            {"late monitoring answer, identity asked", readAnswer(1, 78), identity, unrelated},
            {"other address", readAnswer(2, 78), monitor, unrelated}, {"read refused", hex("0183020000"), monitor, refusal},
            {"other function refused", hex("0190020000"), monitor, unrelated},
            {"echo of register 67", ack67, write67, answer}, {"echo of register 68", hex("01100044000141DC"), write67, unrelated},
            {"acknowledgement of two registers", hex("0110004300020000"), write67, unrelated},
            {"clock frame", hex("0110002D0002D1C1"), clock, answer},
            {"acknowledgement, nothing in flight", ack67, QByteArray(), unrelated},
            {"acknowledgement, a read in flight", ack67, monitor, unrelated},
            {"write refused", hex("0190040000"), write67, refusal},
            {"read answer to a write", readAnswer(1, 2), write67, unrelated},
            {"command answered", hex("10020105 0000"), readId, answer}, {"other command", hex("10030105 0000"), readId, unrelated},
            {"read answer to a command", readAnswer(1, 2), readId, unrelated},
            {"slave 16 read", readAnswer(16, 78), hex("100300000027 0691"), answer},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << r.answer << r.request << int(r.reply);
    }
    void replyToRequest()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QTEST(int(Frames::replyTo(answer, request)), "reply");
    }

    void requestFrames()
    {
        QCOMPARE(crc16Modbus("123456789"), quint16(0x4B37)); // the check string
        QCOMPARE(Frames::monitorRead(64), hex("4003000000270AC1"));
        using namespace AddressCommands;
        const QByteArray sent[] = {readRequest(ReadId), readRequest(ReadRs485Protocol), readRequest(ReadCanProtocol),
                                   setRequest(SetId, 12), setRequest(SetRs485Protocol, 1), setRequest(SetCanProtocol, 1)};
        QByteArrayList onTheLine;
        for (QByteArray frame : sent)
            sealFrame(frame), onTheLine << frame.toHex(' ').toUpper(); // set commands are sealed when sent
        QCOMPARE(onTheLine.join(" | "), QByteArray("10 02 00 71 65 | 10 03 00 70 F5 | 10 04 00 72 C5 | "
                                                   "10 07 01 0C B4 B0 | 10 05 01 01 D4 B5 | 10 06 01 01 24 B5"));
    }

    // Typed IDs as the editor holds them, and the ID Modify sends (-1: none); 0 only comes from the pack.
    void idEditor()
    {
        QStringList shown, sent;
        for (const char *typed : {"12", "65", "640", "99999999999999999999", "", "0"})
            shown << AddressCommands::limitedIdText(typed), sent << QString::number(AddressCommands::idToSend(shown.last()));
        QCOMPARE(shown.join('|'), QStringLiteral("12|64|64|64||0"));
        QCOMPARE(sent.join('|'), QStringLiteral("12|64|64|64|-1|-1"));
    }

    void protocolList_data()
    {
        columns<QByteArray, QStringList, int>("frame", "names", "current");
        QTest::newRow("padded and 10 characters")
            << listAnswer(1, 2, record("RS485") + record("MODBUS-RTU")) << QStringList{"RS485", "MODBUS-RTU"} << 1;
        QTest::newRow("bytes after the zero") << listAnswer(0, 1, QByteArray("AB\0CDEFGHI", 10)) << QStringList{"AB"} << 0;
        QTest::newRow("none") << listAnswer(0, 0, QByteArray()) << QStringList{} << -1;
        QTest::newRow("count beyond the records") << listAnswer(0, 5, record("A") + record("B")) << QStringList{"A", "B"} << 0;
        QTest::newRow("part of a record") << listAnswer(0, 2, record("A") + QByteArray("BC")) << QStringList{"A"} << 0;
        QTest::newRow("index outside the list") << listAnswer(2, 2, record("A") + record("B")) << QStringList{"A", "B"} << -1;
        QTest::newRow("N beyond the frame") << listAnswer(0, 2, record("A") + record("B"), 60) << QStringList{"A", "B"} << 0;
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
