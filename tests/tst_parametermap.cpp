// The parameter map: texts and registers both ways, refusals, clock packing, the write walk and its
// frames, factory values; refused parameter set files (written ones: the page and --read-set).
#include "model/parametermap.h"
#include "model/parameterset.h"
#include "support/helpers.h"
#include <QtTest>

using namespace Param;
Q_DECLARE_METATYPE(Param::Parsed::Error)

namespace {
quint32 ticks(std::initializer_list<const char *> names)
{
    quint32 m = 0;
    for (const char *n : names)
        m |= 1u << groupIndex(QLatin1String(n));
    return m;
}
// A set file with `groups` (JSON array items) and `values` (JSON object members).
QByteArray setFile(const char *groups, const QByteArray &values)
{
    return R"({"format":"packscope-parameter-set","version":1,"model":"M","serial":"S","saved":"2026-12-06 10:00:00",)"
           R"("groups":[)" + QByteArray(groups) + R"(],"values":{)" + values + "}}";
}
const QByteArray Cuv = R"("CUVW":"2.500","CUVP":"2.300","CUVR":"3.100")";
} // namespace

class TstParameterMap : public QObject
{
    Q_OBJECT
private slots:
    // Typed text to register value and back to the shown text.
    void typedText_data()
    {
        columns<QString, QString, Param::Parsed::Error, int, QString>("field", "text", "error", "value", "shown");
        const Parsed::Error ok = Parsed::None;
        const struct { const char *tag, *field, *text; Parsed::Error error; int value; const char *shown; } rows[] = {
            {"3.4", "COVR", "3.4", ok, 3400, "3.400"}, {"half up", "COVR", "3.4005", ok, 3401, "3.401"},
            {"milli 5", "CUVW", "0.005", ok, 5, "0.005"}, {"65.535 V", "CUVW", "65.535", ok, 65535, "65.535"},
            {"62.054", "OCC_I", "62.054", ok, 6205, "62.05"}, {"centi 0", "UVW", "0", ok, 0, "0.00"},
            {"655.35", "LD", "655.35", ok, 65535, "655.35"}, {"-5", "UCTP", "-5", ok, 45, "-5"},
            {"-20", "UDTP", "-20", ok, 30, "-20"}, {"-60", "UDTP", "-60", ok, 65526, "-60"},
            {"-51", "ODTR", "-51", ok, 65535, "-51"},
            {"empty", "UVW", "", Parsed::NotNumber, 0, ""}, {"comma", "COVR", "3,4", Parsed::NotNumber, 0, ""},
            {"negative volt", "COVW", "-3.4", Parsed::Negative, 0, ""}, {"65.536 V", "COVW", "65.536", Parsed::TooLarge, 0, ""},
            {"70000", "OCC_CNT", "70000", Parsed::TooLarge, 0, ""}, {"fraction count", "OCC_CNT", "5.0", Parsed::Fraction, 0, ""},
            {"fraction temp", "UCTW", "-2.5", Parsed::Fraction, 0, ""},
            {"temp wraps", "OCTP", "40000", Parsed::NotStorable, 0, ""}, {"temp below", "OCTP", "-32819", Parsed::NotStorable, 0, ""},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << r.field << r.text << r.error << r.value << r.shown;
    }
    void typedText()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        const Scale scale = fieldByName(field)->scale;
        const Parsed p = parseField(scale, text);
        QTEST(p.error, "error");
        if (p.ok()) {
            QTEST(int(p.value), "value");
            QTEST(fieldText(scale, p.value), "shown");
        }
    }

    void clock()
    {
        for (const auto &c : {std::make_pair("2026-12-13 09:43:53", 0x6B1A9AF5u), std::make_pair("2063-12-31 23:59:59", 0xFF3F7EFBu)}) {
            const Parsed p = parseField(Scale::Clock, c.first);
            QVERIFY(p.ok());
            QCOMPARE(quint32(p.value) << 16 | p.low, c.second);
            QCOMPARE(clockText(p.value, p.low), QString(c.first));
        }
        for (const char *refused : {"2026-12-05 09:47", "1999-12-31 23:59:59", "2064-01-01 00:00:00", "2026-02-30 10:00:00",
                                    "2026-2-03 10:00:00"})
            QVERIFY2(!parseField(Scale::Clock, refused).ok(), refused);
        QCOMPARE(digitsToNumber("99999999999999999999"), Q_UINT64_C(0)); // no overflow
    }

    void writeWalk()
    {
        QCOMPARE(writeOrder(ticks({"BALANCE"})), QVector<quint16>({56, 57, 58}));
        QCOMPARE(writeOrder(ticks({"OV", "UCT"})), QVector<quint16>({70, 71, 72, 90, 91, 92}));
        QCOMPARE(writeOrder(ticks({"OCC"})), QVector<quint16>({80, 85, 83, 86, 78, 76}));
        QCOMPARE(writeOrder(ticks({"TIME_SET"})), QVector<quint16>({45}));
        QCOMPARE(writeOrder(ticks({"BALANCE", "TIME_SET"})), QVector<quint16>({56, 57, 58, 45}));
        QCOMPARE(writeOrder(0), QVector<quint16>());
        // The clock goes after the last group; the sequence ends on its own acknowledgement.
        const quint32 t = ticks({"HEATING_ON_OFF", "TIME_SET"});
        const WriteStep heating = nextWrite(129, t), clock = nextWrite(heating.nextRegister, t),
                        after = nextWrite(clock.nextRegister, t);
        QVERIFY(heating.reg == 129 && clock.hasFrame && clock.count == 2 && clock.nextRegister != WriteChainDone);
        QVERIFY(!after.hasFrame && after.nextRegister == WriteChainDone);
        QVERIFY(!nextWrite(WriteChainDone, t).hasFrame && !nextWrite(61, 0).hasFrame);
    }

    void writeFramesAndFactoryValues()
    {
        quint16 image[512] = {};
        image[67] = 3300, image[45] = 0x6B1A, image[46] = 0x9AF5;
        QCOMPARE(writeFrame(nextWrite(67, 0xFFFFu), image), hex("011000430001020CE4ADE8"));
        QCOMPARE(writeFrame(nextWrite(45, 0xFFFFu), image), hex("0110002D0002046B1A9AF5A72A")); // the clock
        const QVector<Default> d = factoryDefaults();
        QCOMPARE(QString("%1: %2=%3 .. %4=%5").arg(d.size()).arg(d.first().reg).arg(d.first().value).arg(d.last().reg)
                     .arg(d.last().value), QStringLiteral("49: 56=3400 .. 135=110"));
    }

    void setRefusals_data()
    {
        columns<QByteArray, QString, QString>("file", "where", "what");
        const struct { const char *tag; QByteArray file; const char *where, *what; } rows[] = {
            {"bad JSON", R"({"format": )", "offset 11", "not JSON: unterminated object"},
            {"other format", R"({"format":"x","version":1})", "format", R"(not "packscope-parameter-set")"},
            {"version 2", R"({"format":"packscope-parameter-set","version":2})", "version", "not 1"},
            {"unknown group", setFile(R"("CUV","FOO")", Cuv), "groups[1]", R"(unknown group "FOO")"},
            {"unknown field", setFile(R"("CUV")", Cuv + R"(,"XYZ":"1")"), "values.XYZ", "unknown field"},
            {"clock value", setFile(R"("TIME_SET")", R"("BMS_TIME":"2026-12-06 10:00:00")"), "values.BMS_TIME", "unknown field"},
            {"field missing", setFile(R"("CUV")", R"("CUVW":"2.5","CUVP":"2.3")"), "values", "field CUVR of group CUV missing"},
            {"group not listed", setFile(R"("CUV")", Cuv + R"(,"LOW_CAP":"10")"), "values.LOW_CAP",
             "its group BALANCE is not listed"},
            {"too large", setFile(R"("CUV")", R"("CUVW":"65.536","CUVP":"2.3","CUVR":"3.1")"), "values.CUVW",
             R"("65.536" too large for its register)"},
            {"number, not text", setFile(R"("CUV")", R"("CUVW":2.5,"CUVP":"2.3","CUVR":"3.1")"), "values.CUVW", "not a text"},
            {"fraction", setFile(R"("OCC")", R"("OCC_I":"62","OCC_I_DELAY":"1.5","OCC_II":"80","OCC_II_DELAY":"3","OCCR":"180",)"
                                             R"("OCC_CNT":"5")"), "values.OCC_I_DELAY", R"("1.5" must be a whole number)"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << r.file << r.where << r.what;
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
