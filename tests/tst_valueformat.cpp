// Display of fixed-point register values, hexadecimal words and the
// operating state text.
#include "model/valueformat.h"

#include <QtTest>
#include <limits>

class TestValueFormat : public QObject
{
    Q_OBJECT

private slots:
    void fixedPoint_data();
    void fixedPoint();
    void hex4_data();
    void hex4();
    void operatingState_data();
    void operatingState();
    void pickText();
};

void TestValueFormat::fixedPoint_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("52.34 V") << qint64(5234) << 2 << "52.34";
    QTest::newRow("-2.50 A") << qint64(-250) << 2 << "-2.50";
    QTest::newRow("-0.50 A") << qint64(-50) << 2 << "-0.50";
    QTest::newRow("-0.05 A") << qint64(-5) << 2 << "-0.05";
    QTest::newRow("-200 hundredths") << qint64(-200) << 2 << "-2.00";
    QTest::newRow("0.05") << qint64(5) << 2 << "0.05";
    QTest::newRow("zero, hundredths") << qint64(0) << 2 << "0.00";
    QTest::newRow("tenths") << qint64(1005) << 1 << "100.5";
    QTest::newRow("tenths, no fraction") << qint64(1000) << 1 << "100.0";
    QTest::newRow("thousandths") << qint64(3301) << 3 << "3.301";
    QTest::newRow("0.045") << qint64(45) << 3 << "0.045";
    QTest::newRow("65.535 V") << qint64(65535) << 3 << "65.535";
    QTest::newRow("whole") << qint64(1234) << 0 << "1234";
    QTest::newRow("whole negative") << qint64(-40) << 0 << "-40";
    QTest::newRow("zero, whole") << qint64(0) << 0 << "0";
    QTest::newRow("i16 minimum") << qint64(-32768) << 2 << "-327.68";
    QTest::newRow("i32 difference") << qint64(-65535) << 3 << "-65.535";
    QTest::newRow("i64 minimum") << std::numeric_limits<qint64>::min() << 2 << "-92233720368547758.08";
    QTest::newRow("i64 maximum") << std::numeric_limits<qint64>::max() << 3 << "9223372036854775.807";
}

void TestValueFormat::fixedPoint()
{
    QFETCH(qint64, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(::fixedPoint(value, decimals), text);
}

void TestValueFormat::hex4_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("10") << 10 << "000A";
    QTest::newRow("8000") << 8000 << "1F40";
    QTest::newRow("171") << 171 << "00AB";
    QTest::newRow("0") << 0 << "0000";
    QTest::newRow("65535") << 65535 << "FFFF";
}

void TestValueFormat::hex4()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(::hex4(quint16(value)), text);
}

void TestValueFormat::operatingState_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    QTest::newRow("none") << 0x0000 << QStringLiteral("静置") << "Standby";
    QTest::newRow("charge") << 0x0001 << QStringLiteral("充电") << "Charge";
    QTest::newRow("discharge") << 0x0002 << QStringLiteral("放电") << "Discharge";
    QTest::newRow("protection") << 0x0004 << QStringLiteral("保护") << "Protection";
    QTest::newRow("limiting") << 0x0008 << QStringLiteral("充电限流") << "Charge current limiting";
    QTest::newRow("charge wins over discharge") << 0x0003 << QStringLiteral("充电") << "Charge";
    QTest::newRow("protection wins over limiting") << 0x000C << QStringLiteral("保护") << "Protection";
    QTest::newRow("discharge wins over protection") << 0x0006 << QStringLiteral("放电") << "Discharge";
    QTest::newRow("heater alone is standby") << 0x8000 << QStringLiteral("静置") << "Standby";
    QTest::newRow("bits 15, 2 and 0") << 0x8005 << QStringLiteral("充电") << "Charge";
    QTest::newRow("other bits ignored") << 0x7FF0 << QStringLiteral("静置") << "Standby";
}

void TestValueFormat::operatingState()
{
    QFETCH(int, status);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    QCOMPARE(operatingStateText(quint16(status), 0), chinese);
    QCOMPARE(operatingStateText(quint16(status), 1), english);
    QVERIFY(operatingStateText(quint16(status), 2).isEmpty());
}

void TestValueFormat::pickText()
{
    const QString zh = QStringLiteral("警告"), en = QStringLiteral("Warning");
    QCOMPARE(::pickText(0, zh, en), zh);
    QCOMPARE(::pickText(1, zh, en), en);
    QVERIFY(::pickText(2, zh, en).isEmpty());
}

QTEST_APPLESS_MAIN(TestValueFormat)
#include "tst_valueformat.moc"
