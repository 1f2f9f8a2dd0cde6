// The parameter map: texts and registers both ways, refusals, clock packing, the write walk and its
// frames, factory values; refused parameter set files (written ones: the page and --read-set).
#include "model/parametermap.h"
#include "model/parameterrules.h"
#include "model/parameterset.h"
#include "support/helpers.h"
#include <QtTest>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

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
            {"key twice", setFile(R"("CUV")", Cuv + R"(,"CUVW":"2.6")"), "values.CUVW", R"(key "CUVW" appears twice)"},
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

    // Each rule broken once (the text names it) and its boundary accepted (nothing
    // broken), from the factory values with heating at 5 and 15 degC.
    void plausibilityRules_data()
    {
        columns<QString, QString, int, int, QString>("setup", "field", "broken", "boundary", "text");
        const struct { const char *setup, *field; int broken, boundary; const char *text; } rows[] = {
            {"", "CUVP", 2501, 2500, "CUVP 2.501 must not be above CUVW 2.500"},
            {"", "CUVR", 2300, 2301, "CUVP 2.300 must be below CUVR 2.300"},
            {"", "UVP", 4501, 4500, "UVP 45.01 must not be above UVW 45.00"},
            {"", "UVR", 4320, 4321, "UVP 43.20 must be below UVR 43.20"},
            {"", "UCTP", 49, 48, "UCTP -1 must not be above UCTW -2"},
            {"", "UCTR", 45, 46, "UCTP -5 must be below UCTR -5"},
            {"", "UDTP", 36, 35, "UDTP -14 must not be above UDTW -15"},
            {"", "UDTR", 30, 31, "UDTP -20 must be below UDTR -20"},
            {"", "AVG_UTP", 31, 30, "AVG_UTP -19 must not be above AVG_UTW -20"},
            {"", "AVG_UTR", 25, 26, "AVG_UTP -25 must be below AVG_UTR -25"},
            {"", "COVP", 3799, 3800, "COVP 3.799 must not be below COVW 3.800"},
            {"", "COVR", 3900, 3899, "COVP 3.900 must be above COVR 3.900"},
            {"", "OVP", 5919, 5920, "OVP 59.19 must not be below OVW 59.20"},
            {"", "OVR", 6000, 5999, "OVP 60.00 must be above OVR 60.00"},
            {"", "OCTP", 114, 115, "OCTP 64 must not be below OCTW 65"},
            {"", "OCTR", 120, 119, "OCTP 70 must be above OCTR 70"},
            {"", "ODTP", 119, 120, "ODTP 69 must not be below ODTW 70"},
            {"", "ODTR", 125, 124, "ODTP 75 must be above ODTR 75"},
            {"", "PCB_OTP", 149, 150, "PCB_OTP 99 must not be below PCB_OTW 100"},
            {"", "PCB_OTR", 155, 154, "PCB_OTP 105 must be above PCB_OTR 105"},
            {"", "AVG_OTP", 114, 115, "AVG_OTP 64 must not be below AVG_OTW 65"},
            {"", "AVG_OTR", 120, 119, "AVG_OTP 70 must be above AVG_OTR 70"},
            {"CUVW=3900,CUVR=4000", "CUVP", 3900, 3899, "CUVP 3.900 must be below COVP 3.900"},
            {"UVW=6000,UVR=6100", "UVP", 6000, 5999, "UVP 60.00 must be below OVP 60.00"},
            {"UCTW=120,UCTR=125", "UCTP", 120, 119, "UCTP 70 must be below OCTP 70"},
            {"UDTW=125,UDTR=130", "UDTP", 125, 124, "UDTP 75 must be below ODTP 75"},
            {"AVG_UTW=120,AVG_UTR=125", "AVG_UTP", 120, 119, "AVG_UTP 70 must be below AVG_OTP 70"},
            {"", "OCC_I", 8000, 7999, "OCC_I 80.00 must be below OCC_II 80.00"},
            {"", "ODC_I", 8000, 7999, "ODC_I 80.00 must be below ODC_II 80.00"},
            {"", "ODC_II", 20000, 19999, "ODC_II 200.00 must be below LD 200.00"},
            {"", "OCC_II_DELAY", 11, 10, "OCC_II_DELAY 11 must not be above OCC_I_DELAY 10"},
            {"", "ODC_II_DELAY", 11, 10, "ODC_II_DELAY 11 must not be above ODC_I_DELAY 10"},
            {"", "HEATING_ON", 65, 64, "HEATING_ON 15 must be below HEATING_OFF 15"},
            {"", "CUVW", 9900, 4500, "CUVW 9.900 must be between 1.500 and 4.500"},
            {"", "CUVP", 1499, 1500, "CUVP 1.499 must be between 1.500 and 4.500"},
            {"", "BALANCE_OPEN_V", 4501, 4500, "BALANCE_OPEN_V 4.501 must be between 1.500 and 4.500"},
            {"OCTP=175", "OCTW", 176, 175, "OCTW 126 must be between -40 and 125"},
            {"", "UCTP", 9, 10, "UCTP -41 must be between -40 and 125"},
            {"", "LOW_CAP", 101, 100, "LOW_CAP 101 must be between 0 and 100"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.text) << r.setup << r.field << r.broken << r.boundary << r.text;
    }
    void plausibilityRules()
    {
        QFETCH(QString, setup);
        QFETCH(QString, field);
        quint16 image[512] = {};
        for (const Default &d : factoryDefaults())
            image[d.reg] = d.value;
        image[128] = 55, image[129] = 65;
        for (const QString &change : setup.split(',', Qt::SkipEmptyParts))
            image[fieldByName(change.section('=', 0, 0))->reg] = quint16(change.section('=', 1).toInt());
        const auto brokenTexts = [&image] {
            QStringList texts;
            for (const Violation &v : brokenRules(image, [](quint16) { return true; }))
                texts << v.text(true);
            return texts;
        };
        QFETCH(int, broken);
        image[fieldByName(field)->reg] = quint16(broken);
        QFETCH(QString, text);
        QVERIFY2(brokenTexts().contains(text), qPrintable(brokenTexts().join(" / ")));
        QFETCH(int, boundary);
        image[fieldByName(field)->reg] = quint16(boundary);
        QCOMPARE(brokenTexts(), QStringList());
    }

    // The page's words for a broken rule; a rule the write does not touch is not its concern.
    void ruleTextsAndScope()
    {
        quint16 image[512] = {};
        for (const Default &d : factoryDefaults())
            image[d.reg] = d.value;
        image[62] = 2501; // CUVP above CUVW
        const auto onlyBalance = [](quint16 reg) { return reg >= 56 && reg <= 58; };
        QVERIFY(brokenRules(image, onlyBalance).isEmpty());
        const QVector<Violation> v = brokenRules(image, [](quint16 reg) { return reg == 61; });
        QCOMPARE(v.size(), 1);
        QCOMPARE(v[0].text(false, 0), QStringLiteral("单串欠压保护 2.501 V 不得高于 单串欠压警告 2.500 V"));
        QCOMPARE(v[0].text(false, 1), QStringLiteral("Cell UV Protect 2.501 V must not be above Cell UV Warn 2.500 V"));
    }

    // Only a regular file of at most 1 MB is read: nothing waits on a FIFO or reads a device.
    void setFilesReadSafely_data()
    {
        columns<QString, QString>("kind", "what");
#ifndef Q_OS_WIN // Windows has neither FIFOs in the file system nor /dev/zero
        QTest::newRow("FIFO") << "fifo" << "not a regular file (a FIFO, a device or a socket)";
        QTest::newRow("link to /dev/zero") << "zero" << "not a regular file (a FIFO, a device or a socket)";
#endif
        QTest::newRow("folder") << "folder" << "a folder, not a file";
        QTest::newRow("over 1 MB") << "large" << "larger than 1 MB (1048577 bytes)";
    }
    void setFilesReadSafely()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString name = dir.filePath(kind);
#ifndef Q_OS_WIN
        if (kind == "fifo")
            QVERIFY(::mkfifo(qPrintable(name), 0600) == 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", name));
        else
#endif
        if (kind == "folder")
            QVERIFY(QDir().mkdir(name));
        else {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(1024 * 1024 + 1, ' ')) > 0);
        }
        ParamSet::Problem problem;
        ParamSet::load(name, &problem);
        QCOMPARE(problem.where, name);
        QTEST(problem.what, "what");
    }
};

QTEST_APPLESS_MAIN(TstParameterMap)
#include "tst_parametermap.moc"
