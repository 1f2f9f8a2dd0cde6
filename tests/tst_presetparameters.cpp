// The parameter page without a link: its form and texts, the check boxes,
// the refusals and the hint box, what a sequence prepares, set files. Its
// fit in the window is checked with the real-time page's.
#include "model/livedata.h"
#include "pages/presetparameters.h"
#include "support/e2e.h"
#include "support/fakebms.h"
#include "support/helpers.h"
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TstPresetParameters : public QObject
{
    Q_OBJECT
    E2e e;
    QStringList &m_boxes = e.boxes;

    void setLanguage(PresetParameters &page, int language) { page.setLanguage(Language(language)); emit page.languageSwich(); }
    void tick(PresetParameters &page, const char *group) { child<QCheckBox>(&page, group)->setChecked(true); }
    void type(PresetParameters &page, const char *field, const QString &text) { page.field(field)->setText(text); }

private slots:
    void cleanup() { e.reset(); }

    // The form's own texts until the first switch; a tick makes its group's fields editable.
    void textsAndTicks()
    {
        BmsSession session;
        PresetParameters page;
        page.setSession(&session);
        const QString names = "LB_CUVW|LB_LOW_CAP|LB_HEATING_ON|HEATING_ON_OFF|set|factory_reset|LB_UCTW_UNIT";
        QCOMPARE(texts(&page, names), QStringLiteral("单串欠压告警|低容量警告|加热开关开启|加热开关温度| 设置参数| 恢复出厂数据 |℃"));
        setLanguage(page, 0);
        QCOMPARE(texts(&page, names), QStringLiteral("单串欠压警告|低容量告警|加热开启温度|加热开关温度|设置参数|恢复出厂设置|℃"));
        setLanguage(page, 1);
        QCOMPARE(texts(&page, names),
                 QStringLiteral("Cell UV Warn|Low Capcity Warn|Heat Opening|Heating Switch|Write|Restore Factory Date|℃"));

        tick(page, "CUV");
        QVERIFY(!page.field("CUVW")->isReadOnly() && !page.field("CUVR")->isReadOnly() && page.field("COVW")->isReadOnly());
        child<QCheckBox>(&page, "CUV")->setChecked(false);
        QVERIFY(page.field("CUVW")->isReadOnly());
        child<QCheckBox>(&page, "selectAll")->click();
        QCOMPARE(page.findChildren<QLineEdit *>().size(), 53);
        for (QLineEdit *e : page.findChildren<QLineEdit *>())
            QVERIFY2(!e->isReadOnly(), qPrintable(e->objectName()));
        QCOMPARE(page.tickedGroups(), 0xFFFFu);
    }

    // Nothing ticked (English), or only selectAll (Chinese): the hint box, nothing prepared.
    void hintWhenNothingTicked()
    {
        for (int language : {1, 0}) {
            BmsSession session;
        PresetParameters page;
        page.setSession(&session);
            setLanguage(page, language);
            child<QCheckBox>(&page, "selectAll")->setChecked(language == 0);
            liveData().nextRequest = MonitorRead;
            child<QPushButton>(&page, "set")->setEnabled(true);
            child<QPushButton>(&page, "set")->click();
            page.on_factory_reset_clicked();
            const QString box = language ? "Clues: If you want to restore the parameters or modify the parameters, please check the "
                                           "corresponding options!!!" : "提示: 如需恢复参数或修改参数请为其对应的选项打勾!!!";
            QTRY_COMPARE(m_boxes, QStringList({box, box}));
            QVERIFY(liveData().nextRequest == MonitorRead && !page.writer()->busy());
            m_boxes.clear();
        }
    }

    // A text its register cannot hold stops the Write: a box names the field, nothing is
    // prepared, the image stays, the field has the focus. A clock without seconds is such a text.
    void refusesUnsafeTexts()
    {
        MainWindow window; // for the focus
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        PresetParameters &page = *window.parameterPage();
        child<QCheckBox>(&page, "selectAll")->click();
        for (QLineEdit *e : page.findChildren<QLineEdit *>())
            e->setText("1");
        type(page, "BMS_TIME", "2026-12-05 09:47");
        liveData().nextRequest = MonitorRead;
        liveData().registerImage[67] = 1234;
        QVERIFY(!page.startWrite());
        QCOMPARE(m_boxes, QStringList("Warning: BMS Time \"2026-12-05 09:47\": must be a date and time yyyy-MM-dd hh:mm:ss "
                                      "from 2000-01-01 00:00:00 to 2063-12-31 23:59:59. Nothing was sent."));
        QVERIFY(liveData().nextRequest == MonitorRead && liveData().registerImage[67] == 1234 && !page.writer()->busy());
        QTRY_VERIFY(page.field("BMS_TIME")->hasFocus());
    }

    // Restore: heating as shown, the first frame at once once the pack's values are known;
    // a stopped link fails it visibly, saying what was not written.
    void restorePreparesFactoryValues()
    {
        BmsSession session;
        PresetParameters page;
        page.setSession(&session);
        page.writer()->parametersRead(liveData().registerImage); // the pack's values are known
        type(page, "HEATING_ON", "-3"), type(page, "HEATING_OFF", "12");
        tick(page, "HEATING_ON_OFF");
        QVERIFY(page.startFactoryReset());
        QTRY_COMPARE(page.writer()->frame(), hex("01100080000102002FF84C")); // HEATING_ON as shown, -3 °C
        QVERIFY(liveData().nextRequest == ParameterWrite && page.waitBox()->isVisible() && page.isBusy());
        page.writer()->stop(ParameterWriter::End::Stopped, "监控已停止");
        QVERIFY(!page.waitBox()->isVisible() && !page.isBusy());
        QTRY_COMPARE(m_boxes, QStringList("失败: 参数修改失败!!!\n监控已停止；已写入 0/2 个寄存器；未写入：加热开关温度；电池组保持原有参数"));
    }

    // Open ticks exactly the file's groups and fills their fields; a refused file changes nothing.
    void openSet()
    {
        QTemporaryDir dir;
        const auto file = [&dir](const char *name, const QByteArray &rest) {
            QFile f(dir.filePath(name));
            return f.open(QIODevice::WriteOnly) && f.write(R"({"format":"packscope-parameter-set","version":1,)" + rest) > 0
                       ? f.fileName() : QString();
        };
        BmsSession session;
        PresetParameters page;
        page.setSession(&session);
        tick(page, "CUV");
        QCOMPARE(page.openSetFrom(file("pack.json", R"("groups":["BALANCE","TIME_SET"],"values":{"BALANCE_OPEN_V":"3.450",)"
                                                    R"("BALANCE_OPEN_V_DELTA":"30","LOW_CAP":"15"}})")), QString());
        QCOMPARE(page.tickedGroups(), (1u << 13) | (1u << 15));
        QCOMPARE(texts(&page, "BALANCE_OPEN_V|LOW_CAP"), QStringLiteral("3.450|15"));
        QVERIFY(!page.field("BMS_TIME")->text().isEmpty());
        setLanguage(page, 1);
        const QString bad = file("bad.json", R"("groups":["CUV"],"values":{"CUVW":"2.5","CUVP":"2.3","CUVR":"x"}})");
        QVERIFY(!page.openSetFrom(bad).isEmpty());
        QCOMPARE(m_boxes.last(), QStringLiteral("Warning: Parameter set bad.json refused (values.CUVR): \"x\" not a number"));
        QVERIFY(texts(&page, "LOW_CAP") == "15" && page.tickedGroups() == ((1u << 13) | (1u << 15)));
    }
};

QTEST_MAIN(TstPresetParameters)
#include "tst_presetparameters.moc"
