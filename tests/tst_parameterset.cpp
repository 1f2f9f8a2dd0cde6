// Parameter set files: the written JSON, and every refusal with what and where.
#include "model/parameterset.h"
#include <QtTest>

namespace {
const QByteArray Head = R"({"format":"packscope-parameter-set","version":1,"model":"M","serial":"S","saved":"2026-12-06 10:00:00",)";
const QByteArray Cuv = R"("CUVW":"2.500","CUVP":"2.300","CUVR":"3.100")";
} // namespace

class TstParameterSet : public QObject
{
    Q_OBJECT
private slots:
    void writesAndReadsBack()
    {
        ParamSet::Set set;
        set.model = "PS16S-100AH";
        set.serial = "PS1";
        set.saved = "2026-12-06 10:00:00";
        set.groups = QStringList{"TIME_SET", "BALANCE", "CUV"}; // written in write order
        set.values = {{"CUVW", "2.500"}, {"CUVP", "2.300"}, {"CUVR", "3.100"},
                      {"BALANCE_OPEN_V", "3.400"}, {"BALANCE_OPEN_V_DELTA", "40"}, {"LOW_CAP", "10"}};
        const QByteArray bytes = ParamSet::serialize(set);
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(o.value("format").toString(), QStringLiteral("packscope-parameter-set"));
        QCOMPARE(o.value("version").toInt(), 1);
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

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("what");
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
    void refusals()
    {
        QFETCH(QByteArray, file);
        ParamSet::Problem problem;
        const ParamSet::Set set = ParamSet::parse(file, &problem);
        QTEST(problem.where, "where");
        QTEST(problem.what, "what");
        QVERIFY(set.groups.isEmpty() && set.values.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TstParameterSet)
#include "tst_parameterset.moc"
