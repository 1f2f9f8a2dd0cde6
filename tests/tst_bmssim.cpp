// The simulator's answer logic on fixed byte sequences: how requests are cut
// from the byte stream, what is answered, the faults, and the simulated pack.

#include "link/crc16.h"
#include "model/monitordata.h"
#include "support/simprocess.h"
#include "bmsmodel.h"
#include "pseudoterminal.h"
#include "slaveresponder.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray joined(const QVector<LinePiece> &pieces)
{
    QByteArray all;
    for (const LinePiece &p : pieces)
        all += p.bytes;
    return all;
}

const QDateTime ClockStart(QDate(2026, 12, 6), QTime(8, 0, 0));

// The registers of a read answer decoded into a register image from `start`.
BmsLiveData decoded(const QByteArray &answer, int start)
{
    BmsLiveData live;
    storeRegisters(answer, start, live);
    return live;
}

} // namespace

class TstBmsSim : public QObject
{
    Q_OBJECT
private slots:
    void monitoringReadAnswer();
    void identityReadAnswer();
    void writeIsAcknowledgedAndKept();
    void requestsNotAnswered_data();
    void requestsNotAnswered();
    void requestCutting_data();
    void requestCutting();
    void exceptions_data();
    void exceptions();
    void faults();
    void ownCommands();
    void slaveSixteenTellsCommandsFromReads();
    void packMovesThroughItsCycle();
    void warningsFollowWrittenThresholds();
    void clockRunsFromWrittenTime();
    void recordsAreReadable();
    void runsOnAGivenDevice();
    void refusesBadOptions();
};

void TstBmsSim::monitoringReadAnswer()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    const QByteArray a = joined(slave.receive(hex("010300000027 05D0"), 1000));
    QCOMPARE(a.size(), 83);
    QCOMPARE(quint8(a[0]), quint8(1));
    QCOMPARE(quint8(a[1]), quint8(3));
    QCOMPARE(quint8(a[2]), quint8(78));
    QVERIFY(crcMatches(a));

    const BmsLiveData live = decoded(a, 0);
    QCOMPARE(cellCount(live), 16);
    QCOMPARE(live.registerImage[Reg::FullCapacity], quint16(1000));
    int sum = 0;
    for (int i = 0; i < 16; ++i) {
        const int mv = live.registerImage[Reg::CellVoltage + i];
        QVERIFY2(mv > 3150 && mv < 3450, qPrintable(QString::number(mv)));
        sum += mv;
    }
    QVERIFY(qAbs(live.registerImage[Reg::TotalVoltage] - sum / 10) <= 1);
    QVERIFY(packCurrent(live) > 0); // the pack starts charging
    QCOMPARE(live.registerImage[Reg::StatusWord] & 3, 1);
    QVERIFY(live.registerImage[Reg::Soc] > 0 && live.registerImage[Reg::Soc] <= 100);
}

void TstBmsSim::identityReadAnswer()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    QByteArray a = joined(slave.receive(hex("010300690017 D5D8"), 0));
    QCOMPARE(a.size(), 51);
    QVERIFY(crcMatches(a));
    BmsLiveData live = decoded(a, Reg::IdentityStart);
    QCOMPARE(modelText(live), QStringLiteral("PS16S-100AH"));
    QCOMPARE(versionText(live), QStringLiteral("V1.2.0"));
    QCOMPARE(serialText(live), QStringLiteral("PS2026120600001"));

    // Texts longer than their fields are cut to them.
    model.setIdentity(QStringLiteral("A-MODEL-NAME-OF-26-BYTES!"), QStringLiteral("V10.20.3"), QStringLiteral("X"));
    a = joined(slave.receive(hex("010300690017 D5D8"), 100));
    live = decoded(a, Reg::IdentityStart);
    QCOMPARE(modelText(live), QStringLiteral("A-MODEL-NAME-OF-26-BYTES"));
    QCOMPARE(versionText(live), QStringLiteral("V10.20"));
    QCOMPARE(serialText(live), QStringLiteral("X"));
}

void TstBmsSim::writeIsAcknowledgedAndKept()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    const QByteArray ack = joined(slave.receive(hex("01100043000102 0CE4 ADE8"), 0));
    QCOMPARE(ack, hex("011000430001 F01D"));

    const QByteArray read = joined(slave.receive(hex("010300430001 75DE"), 10));
    QCOMPARE(read, hex("0103020CE4 BD0F"));

    // Two registers at once (the clock frame) are kept as well.
    QByteArray write = hex("0110002D000204 6B0A 9BC1 0000");
    sealFrame(write);
    QCOMPARE(joined(slave.receive(write, 20)).size(), 8);
    QCOMPARE(model.reg(45), quint16(0x6B0A));
}

void TstBmsSim::requestsNotAnswered_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("other slave address") << hex("020300000027 05E3");
    QTest::newRow("bad CRC") << hex("010300000027 05D1");
    QTest::newRow("broadcast") << [] { QByteArray f = hex("000300000027 0000"); sealFrame(f); return f; }();
    QTest::newRow("write to another slave") << [] {
        QByteArray f = hex("02100043000102 0CE4 0000");
        sealFrame(f);
        return f;
    }();
}

void TstBmsSim::requestsNotAnswered()
{
    QFETCH(QByteArray, request);
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    QVERIFY(slave.receive(request, 0).isEmpty());
    QCOMPARE(slave.answersGiven(), 0);
    QCOMPARE(model.reg(67), quint16(3800)); // no write went through
    // The next request is cut cleanly after it.
    QCOMPARE(joined(slave.receive(hex("010300430001 75DE"), 100)), hex("0103020ED8 BC7E"));
}

void TstBmsSim::requestCutting_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<int>("answers");
    const QByteArray read = hex("010300430001 75DE");
    QTest::newRow("whole") << QList<QByteArray>{read} << QList<int>{0} << 1;
    QTest::newRow("in two parts") << QList<QByteArray>{read.left(3), read.mid(3)} << QList<int>{0, 2} << 1;
    QTest::newRow("byte by byte") << [&] {
        QList<QByteArray> bytes;
        for (char c : read)
            bytes << QByteArray(1, c);
        return bytes;
    }() << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << 1;
    QTest::newRow("two in one chunk") << QList<QByteArray>{read + read} << QList<int>{0} << 2;
    QTest::newRow("noise before") << QList<QByteArray>{hex("FF00") + read} << QList<int>{0} << 1;
    QTest::newRow("another slave's request before")
        << QList<QByteArray>{hex("020300000027 05E3") + read} << QList<int>{0} << 1;
    QTest::newRow("bad frame before") << QList<QByteArray>{hex("010300000027 05D1") + read} << QList<int>{0} << 1;
    // The start of a frame whose rest never came is dropped after a silence.
    QTest::newRow("stale start, then silence")
        << QList<QByteArray>{hex("0110"), read} << QList<int>{0, 500} << 1;
    QTest::newRow("rest too late") << QList<QByteArray>{read.left(4), read.mid(4)} << QList<int>{0, 500} << 0;
}

void TstBmsSim::requestCutting()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, times);
    QFETCH(int, answers);
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    QByteArray all;
    for (int i = 0; i < chunks.size(); ++i)
        all += joined(slave.receive(chunks[i], times[i]));
    QCOMPARE(slave.answersGiven(), answers);
    QCOMPARE(all, hex("0103020ED8 BC7E").repeated(answers));
}

void TstBmsSim::exceptions_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("writeException");
    QTest::addColumn<QByteArray>("answerStart");
    auto sealed = [](const char *h) {
        QByteArray f = hex(h);
        f.append(2, '\0');
        sealFrame(f);
        return f;
    };
    QTest::newRow("read of 0 registers") << sealed("010300000000") << false << hex("018303");
    QTest::newRow("read of 126 registers") << sealed("01030000007E") << false << hex("018303");
    QTest::newRow("read past the last register") << sealed("0103FFFF0002") << false << hex("018302");
    QTest::newRow("write count and byte count differ") << sealed("01100043000202 0CE4") << false << hex("019003");
    QTest::newRow("input registers not kept") << sealed("010400000001") << false << hex("018401");
    QTest::newRow("write refused") << sealed("01100043000102 0CE4") << true << hex("019004");
}

void TstBmsSim::exceptions()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, writeException);
    QFETCH(QByteArray, answerStart);
    BmsModel model(1, ClockStart);
    SlaveFaults faults;
    faults.writeException = writeException;
    SlaveResponder slave(model, 1, faults);
    const QByteArray a = joined(slave.receive(request, 0));
    QCOMPARE(a.size(), 5);
    QCOMPARE(a.left(3), answerStart);
    QVERIFY(crcMatches(a));
    QCOMPARE(model.reg(67), quint16(3800));
}

void TstBmsSim::faults()
{
    const QByteArray read = hex("010300430001 75DE");
    const QByteArray good = hex("0103020ED8 BC7E");
    BmsModel model(1, ClockStart);

    SlaveFaults badCrc;
    badCrc.badCrcEvery = 2;
    SlaveResponder a(model, 1, badCrc);
    QCOMPARE(joined(a.receive(read, 0)), good);
    QByteArray second = joined(a.receive(read, 100));
    QCOMPARE(second.left(5), good.left(5));
    QVERIFY(!crcMatches(second));
    QCOMPARE(joined(a.receive(read, 200)), good);

    SlaveFaults wrong;
    wrong.wrongAddressEvery = 1;
    for (quint8 address : {quint8(1), quint8(15)}) {
        SlaveResponder b(model, address, wrong);
        QByteArray request = read;
        request[0] = char(address);
        sealFrame(request);
        const QByteArray answer = joined(b.receive(request, 0));
        QCOMPARE(answer.size(), 7);
        QVERIFY(quint8(answer[0]) != address);
        QVERIFY(quint8(answer[0]) != 0x10); // the tool would take that from anyone
        QVERIFY(crcMatches(answer));
    }

    SlaveFaults stray;
    stray.strayEvery = 1;
    SlaveResponder c(model, 1, stray);
    QVector<LinePiece> pieces = c.receive(read, 0);
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces[0].bytes, good);
    QCOMPARE(pieces[1].bytes.size(), 1);
    QVERIFY(pieces[1].delayMs > 0 && pieces[1].delayMs < 20);

    SlaveFaults split;
    split.splitGapMs = 5;
    SlaveResponder d(model, 1, split);
    pieces = d.receive(hex("010300000027 05D0"), 0);
    QCOMPARE(pieces.size(), 3);
    QCOMPARE(pieces[0].delayMs, 0);
    QCOMPARE(pieces[1].delayMs, 5);
    QCOMPARE(pieces[2].delayMs, 5);
    QCOMPARE(joined(pieces).size(), 83);
    QVERIFY(crcMatches(joined(pieces)));

    // A silent slave answers nothing and takes no writes, until it speaks again.
    SlaveFaults silent;
    silent.silent = true;
    SlaveResponder e(model, 1, silent);
    QVERIFY(e.receive(hex("01100043000102 0CE4 ADE8"), 0).isEmpty());
    QCOMPARE(model.reg(67), quint16(3800));
    e.faults().silent = false;
    QCOMPARE(joined(e.receive(read, 100)), good);
}

void TstBmsSim::ownCommands()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    QByteArray a = joined(slave.receive(hex("100200 7165"), 0));
    QCOMPARE(a.left(4), hex("10020101"));
    QVERIFY(crcMatches(a));

    // Protocol list: current index, count, then 10-byte names.
    a = joined(slave.receive(hex("100300 70F5"), 10));
    QCOMPARE(a.size(), 5 + 2 + 10 * 3);
    QCOMPARE(quint8(a[2]), quint8(32));
    QCOMPARE(quint8(a[4]), quint8(3));
    QCOMPARE(a.mid(5, 10), QByteArray("MODBUS-RTU"));
    a = joined(slave.receive(hex("100400 72C5"), 20));
    QCOMPARE(quint8(a[4]), quint8(2));

    QByteArray set = hex("10050102 0000");
    sealFrame(set);
    a = joined(slave.receive(set, 30));
    QCOMPARE(a.left(3), hex("100500"));
    QCOMPARE(model.rs485Protocol, 2);

    // A new ID takes effect: the pack then answers to it only.
    set = hex("10070105 0000");
    sealFrame(set);
    QCOMPARE(joined(slave.receive(set, 40)).left(3), hex("100700"));
    QVERIFY(slave.receive(hex("010300430001 75DE"), 50).isEmpty());
    QByteArray read = hex("050300430001 0000");
    sealFrame(read);
    QCOMPARE(joined(slave.receive(read, 60)).left(5), hex("0503020ED8"));
}

void TstBmsSim::slaveSixteenTellsCommandsFromReads()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 16);
    QByteArray read = hex("100300430001 0000");
    sealFrame(read);
    QCOMPARE(joined(slave.receive(read, 0)).left(5), hex("1003020ED8"));
    const QByteArray list = joined(slave.receive(hex("100300 70F5"), 10));
    QCOMPARE(list.size(), 37);
}

void TstBmsSim::packMovesThroughItsCycle()
{
    BmsModel model(7, ClockStart);
    bool sawCharge = false, sawDischarge = false, sawRest = false, sawNegative = false, sawHeater = false,
         sawProtection = false, sawLimiting = false, sawBalancing = false, sawWarning = false;
    int previousCycles = -1;
    for (qint64 ms = 0; ms < 200 * 1000; ms += 1000) {
        model.prepareRead(0, 39, ms);
        BmsLiveData live;
        for (int r = 0; r < 39; ++r)
            live.registerImage[r] = model.reg(r);
        const quint16 status = live.registerImage[Reg::StatusWord];
        const int current = packCurrent(live);
        if (current > 0) {
            sawCharge = true;
            QVERIFY(status & 1);
        } else if (current < 0) {
            sawDischarge = true;
            QVERIFY(status & 2);
            QCOMPARE(live.registerImage[Reg::CellMarkBits], quint16(0)); // balancing only while charging
        } else {
            sawRest = true;
            QCOMPARE(status & 3, 0);
        }
        sawLimiting |= (status & 8) != 0;
        sawProtection |= (status & 4) != 0 && live.registerImage[Reg::ProtectionBits] != 0;
        sawHeater |= (status & 0x8000) != 0;
        sawBalancing |= live.registerImage[Reg::CellMarkBits] != 0;
        sawWarning |= live.registerImage[Reg::WarningBits] != 0;
        for (int sensor = 1; sensor <= 4; ++sensor)
            sawNegative |= sensorTemp(sensor, live) < 0;
        const CellExtremes cells = cellVoltageExtremes(live);
        QVERIFY(cells.min >= 3150 && cells.max <= 3450);
        QVERIFY(live.registerImage[Reg::Soc] >= 50 && live.registerImage[Reg::Soc] <= 70);
        QCOMPARE(live.registerImage[Reg::RemainCapacity], live.registerImage[Reg::Soc]); // 100 Ah pack
        QVERIFY(live.registerImage[Reg::CycleCount] >= previousCycles);
        previousCycles = live.registerImage[Reg::CycleCount];
    }
    QVERIFY(sawCharge && sawDischarge && sawRest);
    QVERIFY(sawNegative);
    QVERIFY(sawHeater);
    QVERIFY(sawProtection);
    QVERIFY(sawLimiting);
    QVERIFY(sawBalancing);
    QVERIFY(sawWarning);

    // Values move from one second to the next.
    SlaveResponder slave(model, 1);
    const QByteArray first = joined(slave.receive(hex("010300000027 05D0"), 3000));
    const QByteArray second = joined(slave.receive(hex("010300000027 05D0"), 4000));
    QVERIFY(first != second);
    // Another seed gives another pack.
    BmsModel other(8, ClockStart);
    other.prepareRead(0, 39, 3000);
    model.prepareRead(0, 39, 3000);
    bool differ = false;
    for (int i = 0; i < 16; ++i)
        differ |= other.reg(Reg::CellVoltage + i) != model.reg(Reg::CellVoltage + i);
    QVERIFY(differ);
}

void TstBmsSim::warningsFollowWrittenThresholds()
{
    BmsModel model(1, ClockStart);
    model.prepareRead(0, 39, 1000);
    QCOMPARE(model.reg(Reg::WarningBits) & 0x0002, 0);
    // Cell over-voltage warning at 3.000 V: every cell is above it.
    model.writeRegisters(67, {3000}, 1500);
    model.prepareRead(0, 39, 2000);
    QCOMPARE(model.reg(Reg::WarningBits) & 0x0002, 0x0002);
}

void TstBmsSim::clockRunsFromWrittenTime()
{
    BmsModel model(1, ClockStart);
    model.prepareRead(45, 2, 0);
    QCOMPARE(BmsModel::clockTime(quint32(model.reg(45)) << 16 | model.reg(46)), ClockStart);
    // 2026-12-05 09:47:01, as the tool packs it.
    model.writeRegisters(45, {0x6B0A, 0x9BC1}, 10000);
    model.prepareRead(45, 91, 15000);
    QCOMPARE(BmsModel::clockTime(quint32(model.reg(45)) << 16 | model.reg(46)),
             QDateTime(QDate(2026, 12, 5), QTime(9, 47, 6)));
    // A date that cannot be stands still as written.
    model.writeRegisters(45, {0x6800, 0x0000}, 20000);
    model.prepareRead(45, 2, 25000);
    QCOMPARE(model.reg(45), quint16(0x6800));
    QCOMPARE(model.reg(46), quint16(0));
}

void TstBmsSim::recordsAreReadable()
{
    BmsModel model(1, ClockStart);
    SlaveResponder slave(model, 1);
    QByteArray prevTime;
    for (int record : {1, 2, 680}) {
        QByteArray read = hex("0103 0000 001C 0000");
        const int start = (record + 15) * 32;
        read[2] = char(start >> 8);
        read[3] = char(start & 0xFF);
        sealFrame(read);
        const QByteArray a = joined(slave.receive(read, record * 10));
        QCOMPARE(a.size(), 5 + 56);
        QVERIFY(crcMatches(a));
        const quint32 time = quint32(quint8(a[3])) << 24 | quint32(quint8(a[4])) << 16 | quint8(a[5]) << 8 | quint8(a[6]);
        const QDateTime when = BmsModel::clockTime(time);
        QVERIFY(when.isValid() && when < ClockStart);
        QVERIFY(a.mid(3, 4) > prevTime); // newer records carry later times
        prevTime = a.mid(3, 4);
        const int cell1 = quint8(a[3 + 24]) << 8 | quint8(a[3 + 25]);
        QVERIFY(cell1 > 3150 && cell1 < 3450);
    }
}

void TstBmsSim::runsOnAGivenDevice()
{
    // The simulator opens the far side of a pseudo-terminal as a serial
    // port, as it would an RS485 adapter; the test talks on this side.
    PseudoTerminal line;
    QVERIFY2(line.open(), qPrintable(line.errorString()));
    SimProcess sim;
    QVERIFY2(sim.start({"--device", line.slaveName(), "--baud", "9600", "--model", "DEVICE-TEST"}),
             qPrintable(sim.errorString()));
    QCOMPARE(sim.deviceName(), line.slaveName());

    QVERIFY(line.write(hex("010300690017 D5D8")));
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += line.readAvailable()).size() >= 51, 10000);
    QCOMPARE(got.size(), 51);
    QVERIFY(crcMatches(got));
    QCOMPARE(modelText(decoded(got, Reg::IdentityStart)), QStringLiteral("DEVICE-TEST"));

    sim.stop();
    QVERIFY(!sim.isRunning());
}

void TstBmsSim::refusesBadOptions()
{
    SimProcess sim;
    QVERIFY(!sim.start({"--address", "0"}));
    QVERIFY(!sim.isRunning());
    QVERIFY(!sim.start({"--device", "/nonexistent/tty"}));
    QVERIFY(!sim.isRunning());
}

QTEST_GUILESS_MAIN(TstBmsSim)
#include "tst_bmssim.moc"
