// The parameter map: texts and registers both ways, refusals, clock packing, the write walk and its
// frames, factory values; parameter set files.
#include "model/parametermap.h"
#include "model/parameterset.h"
#include "support/helpers.h"
#include <QtTest>

using namespace Param;
Q_DECLARE_METATYPE(Param::Scale)
Q_DECLARE_METATYPE(Param::Parsed::Error)

namespace {
quint32 ticks(std::initializer_list<const char *> names)
{
    quint32 m = 0;
    for (const char *n : names)
        m |= 1u << groupIndex(QLatin1String(n));
    return m;
}
const QByteArray Head = R"({"format":"packscope-parameter-set","version":1,"model":"M","serial":"S","saved":"2026-12-06 10:00:00",)";
const QByteArray Cuv = R"("CUVW":"2.500","CUVP":"2.300","CUVR":"3.100")";
} // namespace

class TstParameterMap : public QObject
{
    Q_OBJECT
private slots:
    void shownText_data()
    {
        columns<QString, int, QString>("field", "value", "text");
        QTest::newRow("balance 3400") << "BALANCE_OPEN_V" << 3400 << "3.400";
        QTest::newRow("milli 5") << "CUVW" << 5 << "0.005";
        QTest::newRow("centi 0") << "UVW" << 0 << "0.00";
        QTest::newRow("centi 6205") << "OCC_I" << 6205 << "62.05";
        QTest::newRow("temp 45") << "UCTP" << 45 << "-5";
        QTest::newRow("temp 65535") << "ODTR" << 65535 << "-51";
    }
    void shownText()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QTEST(fieldText(fieldByName(field)->scale, quint16(value)), "text");
    }

    void typedText_data()
    {
        columns<QString, QString, Param::Parsed::Error, int>("field", "text", "error", "value");
        QTest::newRow("3.4") << "COVR" << "3.4" << Parsed::None << 3400;
        QTest::newRow("half up") << "COVR" << "3.4005" << Parsed::None << 3401;
        QTest::newRow("62.004") << "UVR" << "62.004" << Parsed::None << 6200;
        QTest::newRow("80 A") << "ODC_I" << "80" << Parsed::None << 8000;
        QTest::newRow("655.35") << "LD" << "655.35" << Parsed::None << 65535;
        QTest::newRow("65.535 V") << "CUVW" << "65.535" << Parsed::None << 65535;
        QTest::newRow("-20") << "UDTP" << "-20" << Parsed::None << 30;
        QTest::newRow("-60") << "UDTP" << "-60" << Parsed::None << 65526;
        QTest::newRow("empty") << "UVW" << "" << Parsed::NotNumber << 0;
        QTest::newRow("comma") << "COVR" << "3,4" << Parsed::NotNumber << 0;
        QTest::newRow("negative volt") << "COVW" << "-3.4" << Parsed::Negative << 0;
        QTest::newRow("65.536 V") << "COVW" << "65.536" << Parsed::TooLarge << 0;
        QTest::newRow("70000") << "OCC_CNT" << "70000" << Parsed::TooLarge << 0;
        QTest::newRow("fraction count") << "OCC_CNT" << "5.0" << Parsed::Fraction << 0;
        QTest::newRow("fraction temp") << "UCTW" << "-2.5" << Parsed::Fraction << 0;
        QTest::newRow("temp wraps") << "OCTP" << "40000" << Parsed::NotStorable << 0;
        QTest::newRow("temp below") << "OCTP" << "-32819" << Parsed::NotStorable << 0;
    }
    void typedText()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        const Parsed p = parseField(fieldByName(field)->scale, text);
        QTEST(p.error, "error");
        if (p.ok()) {
            QTEST(int(p.value), "value");
            QCOMPARE(parseField(fieldByName(field)->scale, fieldText(fieldByName(field)->scale, p.value)).value, p.value);
        }
    }

    void clock_data()
    {
        columns<QString, bool, quint32>("text", "accepted", "code");
        QTest::newRow("example") << "2026-12-13 09:43:53" << true << 0x6B1A9AF5u;
        QTest::newRow("part's text") << "2026-12-05 09:47:01" << true << 0x6B0A9BC1u;
        QTest::newRow("last") << "2063-12-31 23:59:59" << true << 0xFF3F7EFBu;
        QTest::newRow("no seconds") << "2026-12-05 09:47" << false << 0u;
        QTest::newRow("1999") << "1999-12-31 23:59:59" << false << 0u;
        QTest::newRow("2064") << "2064-01-01 00:00:00" << false << 0u;
        QTest::newRow("feb 30") << "2026-02-30 10:00:00" << false << 0u;
        QTest::newRow("one-digit month") << "2026-2-03 10:00:00" << false << 0u;
    }
    void clock()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const Parsed p = parseField(Scale::Clock, text);
        QCOMPARE(p.ok(), accepted);
        if (accepted) {
            QTEST(quint32(p.value) << 16 | p.low, "code");
            QCOMPARE(clockText(p.value, p.low), text);
        }
    }
    void clockByDigitPosition()
    {
        // Without the refusal, digits are taken by position.
        QCOMPARE(digitsToNumber("2026-12-05 09:47"), Q_UINT64_C(202612050947));
        const quint32 c = clockCode("2026-12-05 09:47");
        QCOMPARE(clockText(quint16(c >> 16), quint16(c)), QStringLiteral("2005-10-12 05:09:47"));
        QCOMPARE(digitsToNumber("99999999999999999999"), Q_UINT64_C(0));
    }

    void writeWalk_data()
    {
        columns<quint32, QVector<quint16>>("ticked", "order");
        QTest::newRow("BALANCE") << ticks({"BALANCE"}) << QVector<quint16>{56, 57, 58};
        QTest::newRow("OV+UCT") << ticks({"OV", "UCT"}) << QVector<quint16>{70, 71, 72, 90, 91, 92};
        QTest::newRow("OCC") << ticks({"OCC"}) << QVector<quint16>{80, 85, 83, 86, 78, 76};
        QTest::newRow("TIME_SET") << ticks({"TIME_SET"}) << QVector<quint16>{45};
        QTest::newRow("BALANCE+TIME_SET") << ticks({"BALANCE", "TIME_SET"}) << QVector<quint16>{56, 57, 58, 45};
        QTest::newRow("nothing") << 0u << QVector<quint16>{};
    }
    void writeWalk()
    {
        QFETCH(quint32, ticked);
        QTEST(writeOrder(ticked), "order");
    }
    void clockFrameEndsOnItsOwnAcknowledgement()
    {
        const quint32 t = ticks({"HEATING_ON_OFF", "TIME_SET"});
        WriteStep s = nextWrite(129, t);
        QCOMPARE(s.reg, quint16(129));
        s = nextWrite(s.nextRegister, t);
        QVERIFY(s.hasFrame);
        QCOMPARE(s.count, 2);
        QVERIFY(s.nextRegister != WriteChainDone);
        s = nextWrite(s.nextRegister, t);
        QVERIFY(!s.hasFrame);
        QCOMPARE(s.nextRegister, WriteChainDone);
        QVERIFY(!nextWrite(WriteChainDone, t).hasFrame);
        QVERIFY(!nextWrite(61, 0).hasFrame);
    }

    void writeFrames()
    {
        quint16 image[512] = {};
        image[67] = 3300, image[45] = 0x6B1A, image[46] = 0x9AF5;
        QCOMPARE(writeFrame(nextWrite(67, 0xFFFFu), image), QByteArray::fromHex("011000430001020CE4ADE8"));
        QCOMPARE(writeFrame(nextWrite(45, 0xFFFFu), image), QByteArray::fromHex("0110002D0002046B1A9AF5A72A")); // the clock
    }

    void factoryValues()
    {
        const QVector<Default> d = factoryDefaults();
        QCOMPARE(d.size(), 49);
        QCOMPARE(fields().size(), 52); // 51 value fields and the clock
        QCOMPARE(QString("%1=%2 %3=%4").arg(d.first().reg).arg(d.first().value).arg(d.last().reg).arg(d.last().value),
                 QStringLiteral("56=3400 135=110"));
    }

    void setWritesAndReadsBack()
    {
        ParamSet::Set set;
        set.model = "PS16S-100AH", set.serial = "PS1", set.saved = "2026-12-06 10:00:00";
        set.groups = QStringList{"TIME_SET", "BALANCE", "CUV"}; // written in write order
        set.values = {{"CUVW", "2.500"}, {"CUVP", "2.300"}, {"CUVR", "3.100"},
                      {"BALANCE_OPEN_V", "3.400"}, {"BALANCE_OPEN_V_DELTA", "40"}, {"LOW_CAP", "10"}};
        const QByteArray bytes = ParamSet::serialize(set);
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(o.value("format").toString() + ' ' + QString::number(o.value("version").toInt()), "packscope-parameter-set 1");
        QCOMPARE(o.value("groups").toVariant().toStringList(), QStringList({"CUV", "BALANCE", "TIME_SET"}));
        QCOMPARE(o.value("values").toObject().size(), 6);
        ParamSet::Problem problem;
        const ParamSet::Set back = ParamSet::parse(bytes, &problem);
        QVERIFY2(problem.isNull(), qPrintable(problem.where + ": " + problem.what));
        QCOMPARE(back.groups, QStringList({"CUV", "BALANCE", "TIME_SET"}));
        QCOMPARE(back.values, set.values);
        QCOMPARE(back.serial, set.serial);
        QCOMPARE(ParamSet::groupMask(back), (1u << 0) | (1u << 13) | (1u << 15));
    }

    void setRefusals_data()
    {
        columns<QByteArray, QString, QString>("file", "where", "what");
        QTest::newRow("bad JSON") << QByteArray(R"({"format": )") << "offset 11" << "not JSON: unterminated object";
        QTest::newRow("other format") << QByteArray(R"({"format":"x","version":1})") << "format"
                                      << "not \"packscope-parameter-set\"";
        QTest::newRow("version 2") << QByteArray(R"({"format":"packscope-parameter-set","version":2})") << "version" << "not 1";
        QTest::newRow("unknown group") << Head + R"("groups":["CUV","FOO"],"values":{)" + Cuv + "}}" << "groups[1]"
                                       << "unknown group \"FOO\"";
        QTest::newRow("unknown field") << Head + R"("groups":["CUV"],"values":{)" + Cuv + R"(,"XYZ":"1"}})"
                                       << "values.XYZ" << "unknown field";
        QTest::newRow("clock value") << Head + R"("groups":["TIME_SET"],"values":{"BMS_TIME":"2026-12-06 10:00:00"}})"
                                     << "values.BMS_TIME" << "unknown field";
        QTest::newRow("field missing") << Head + R"("groups":["CUV"],"values":{"CUVW":"2.5","CUVP":"2.3"}})"
                                       << "values" << "field CUVR of group CUV missing";
        QTest::newRow("group not listed") << Head + R"("groups":["CUV"],"values":{)" + Cuv + R"(,"LOW_CAP":"10"}})"
                                          << "values.LOW_CAP" << "its group BALANCE is not listed";
        QTest::newRow("too large") << Head + R"("groups":["CUV"],"values":{"CUVW":"65.536","CUVP":"2.3","CUVR":"3.1"}})"
                                   << "values.CUVW" << "\"65.536\" too large for its register";
        QTest::newRow("number, not text") << Head + R"("groups":["CUV"],"values":{"CUVW":2.5,"CUVP":"2.3","CUVR":"3.1"}})"
                                          << "values.CUVW" << "not a text";
        QTest::newRow("fraction") << Head + R"("groups":["OCC"],"values":{"OCC_I":"62","OCC_I_DELAY":"1.5","OCC_II":"80",)"
                                             R"("OCC_II_DELAY":"3","OCCR":"180","OCC_CNT":"5"}})"
                                  << "values.OCC_I_DELAY" << "\"1.5\" must be a whole number";
    }
    void setRefusals()
    {
        QFETCH(QByteArray, file);
        ParamSet::Problem problem;
        const ParamSet::Set set = ParamSet::parse(file, &problem);
        QTEST(problem.where, "where");
        QTEST(problem.what, "what");
        QVERIFY(set.groups.isEmpty() && set.values.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TstParameterMap)
#include "tst_parametermap.moc"
