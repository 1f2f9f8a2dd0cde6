// Display of fixed-point register values, hexadecimal words and the operating state.
#include "model/valueformat.h"
#include <QtTest>
#include <limits>
class TestValueFormat : public QObject
{
    Q_OBJECT
private slots:
    void fixedPoint_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("52.34") << qint64(5234) << 2 << "52.34";
        QTest::newRow("-0.05 keeps its sign") << qint64(-5) << 2 << "-0.05";
        QTest::newRow("thousandths zero-filled") << qint64(45) << 3 << "0.045";
        QTest::newRow("whole negative") << qint64(-40) << 0 << "-40";
        QTest::newRow("i64 minimum") << std::numeric_limits<qint64>::min() << 2 << "-92233720368547758.08";
    }
    void fixedPoint()
    {
        QFETCH(qint64, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(::fixedPoint(value, decimals), text);
    }
    void hex4() { QCOMPARE(::hex4(10) + ::hex4(65535), QStringLiteral("000AFFFF")); }
    void operatingState_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        QTest::newRow("charge wins") << 0x000F << QStringLiteral("充电") << "Charge";
        QTest::newRow("discharge over protection") << 0x0006 << QStringLiteral("放电") << "Discharge";
        QTest::newRow("protection over limiting") << 0x000C << QStringLiteral("保护") << "Protection";
        QTest::newRow("limiting") << 0x0008 << QStringLiteral("充电限流") << "Charge current limiting";
        QTest::newRow("none, other bits ignored") << 0xFFF0 << QStringLiteral("静置") << "Standby";
    }
    void operatingState()
    {
        QFETCH(int, status);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        QCOMPARE(operatingStateText(quint16(status), 0), chinese);
        QCOMPARE(operatingStateText(quint16(status), 1), english);
        QVERIFY(operatingStateText(quint16(status), 2).isEmpty());
    }
};
QTEST_APPLESS_MAIN(TestValueFormat)
#include "tst_valueformat.moc"
