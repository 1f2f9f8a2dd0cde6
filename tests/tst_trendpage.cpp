// The trend page: the live window and zoom, the read-out, the range picker's edge cases, both languages.
#include "gui/dialogs.h"
#include "model/livedata.h"
#include "pages/trendchartview.h"
#include "pages/trendpage.h"
#include "store/recordtablemodel.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QtCharts/QLineSeries>
#include <QtTest>
#include <QtWidgets>
#include <memory>

using namespace QtCharts;

namespace {

const QDateTime Start(QDate(2026, 4, 2), QTime(10, 0, 0));

// A history row at `at` with pack voltage `centivolts`: -1.50 A, 80 %, sensors at
// 20..23 °C, a 15-cell pack of 3.300..3.314 V (the 16th cell register reads 0).
QVector<QVariant> row(const QDateTime &at, int centivolts)
{
    QVector<QVariant> v(40, 0);
    v[0] = at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    v[7] = -150, v[9] = centivolts, v[10] = 80;
    for (int k = 0; k < 15; ++k)
        v[19 + k] = 3300 + k, v[15 + k % 4] = 20 + k % 4;
    return v;
}

} // namespace

class TestTrendPage : public QObject
{
    Q_OBJECT

    RecordTableModel *history = nullptr;
    std::unique_ptr<TrendPage> page;
    QStringList boxes;

    void store(const QDateTime &at, int centivolts) { page->appendSample(history->appendRow(row(at, centivolts)), row(at, centivolts)); }
    QLineSeries *voltage() const { return page->series(Trend::PackVoltage); }
    QString visible() const { return page->visibleFrom().toString("hh:mm:ss-") + page->visibleTo().toString("hh:mm:ss"); }

private slots:
    void initTestCase()
    {
        TestEnv::openFreshDatabases();
        history = new RecordTableModel(RecordTable::history(), this);
        Dialogs::setHook([this](const Dialogs::Request &r, QString *) { return boxes << r.text, int(QMessageBox::Ok); });
    }
    void init()
    {
        history->clearTable(), boxes.clear();
        page.reset(new TrendPage), page->resize(1200, 700), page->show();
        page->setLanguage(Language::English), emit page->languageSwich();
    }

    // One pack: no selector, the eight series. Three packs: "All" draws the cell spread once per pack, live and
    // from the history; a pack chosen draws that pack's series alone.
    void packs()
    {
        const auto storePack = [&](int s, const char *serial, int centivolts, int cell16) {
            QVector<QVariant> v = row(Start.addSecs(s), centivolts);
            v[34] = cell16, v[39] = serial;
            page->appendSample(history->appendRow(v), v);
        };
        storePack(0, "P2", 5000, 3330);
        QTRY_COMPARE(voltage()->count(), 1);
        QVERIFY(!page->packBox()->isVisibleTo(page.get()) && !page->isOverlay());
        storePack(0, "P1", 5100, 3340);
        storePack(1, "P3", 5200, 3350);
        storePack(1, "P2", 5010, 3360);
        QVERIFY(page->isOverlay() && page->packBox()->isVisibleTo(page.get()));
        QCOMPARE(page->packBox()->count(), 4);
        const auto spreads = [&] {
            QStringList lines;
            for (QLineSeries *line : page->packSeries()) {
                QStringList ys;
                for (const QPointF &p : line->pointsVector())
                    ys << QString::number(p.y());
                lines << line->name() + ":" + ys.join(',');
            }
            return lines;
        };
        // 15 cells of 3300..3314 mV and a 16th: the spread is 16th minus 3300.
        QTRY_COMPARE(spreads(), QStringList({"P1:40", "P2:30,60", "P3:50"}));
        page->on_allBtn_clicked();
        QTRY_COMPARE(spreads(), QStringList({"P1:40", "P2:30,60", "P3:50"}));
        page->packBox()->setCurrentIndex(page->packBox()->findText("P2"));
        QTRY_COMPARE(voltage()->count(), 2);
        QCOMPARE(voltage()->at(1).y(), 50.10);
        QVERIFY(!page->isOverlay());
    }

    // A hidden page (another tab) keeps the samples but draws nothing; shown, it draws all of them at once.
    void hiddenPageDrawsWhenShown()
    {
        store(Start, 5000);
        QTRY_COMPARE(voltage()->count(), 1);
        page->hide();
        for (int s = 1; s <= 5; ++s)
            store(Start.addSecs(s), 5000 + s);
        QTest::qWait(50);
        QCOMPARE(voltage()->count(), 1);
        page->show();
        QCOMPARE(voltage()->count(), 6);
        QCOMPARE(voltage()->at(5), QPointF(Start.addSecs(5).toMSecsSinceEpoch(), 50.05));
    }

    void liveFollowsTheLastTenMinutes()
    {
        for (int s = 0; s <= 15 * 60 + 3; ++s)
            store(Start.addSecs(s), 5000 + s % 100);
        const QDateTime last = Start.addSecs(15 * 60 + 3);
        // Drawn once the event loop runs; the window moves on in steps of 10 s.
        QTRY_VERIFY(voltage()->count() && voltage()->at(voltage()->count() - 1) == QPointF(last.toMSecsSinceEpoch(), 50.03));
        QCOMPARE(visible(), QStringLiteral("10:05:10-10:15:10"));
        // The series keeps the window and at most a minute more.
        QVERIFY(voltage()->at(0).x() >= last.addSecs(-660).toMSecsSinceEpoch());

        // A zoom stops the following; new samples leave the view where it is.
        page->zoomTo(Start.addSecs(60), Start.addSecs(120));
        store(last.addSecs(1), 5100);
        page->updateLiveChart();
        QCOMPARE(visible(), QStringLiteral("10:01:00-10:02:00"));
        QCOMPARE(page->readoutAt(Start.addSecs(100).toMSecsSinceEpoch()),
                 QStringLiteral("2026-04-02 10:01:40  Pack voltage 50.00 V  Current -1.50 A  SOC 80 %  "
                                "Highest cell 3.314 V  Lowest cell 3.300 V  Cell spread 14 mV  "
                                "Highest temperature 23 °C  Lowest temperature 20 °C"));
        QCOMPARE(page->readoutAt(Start.addSecs(-100).toMSecsSinceEpoch()), QStringLiteral("2026-04-02 09:58:20"));

        child<QPushButton>(page.get(), "liveBtn")->click();
        page->setWindowMinutes(1); // steps of a second
        QVERIFY(page->isFollowing());
        QCOMPARE(visible(), QStringLiteral("10:14:04-10:15:04"));

        // The live store keeps the last hour and a little: a day of samples does not pile up.
        for (int s = 2; s <= 4600; ++s)
            page->appendSample(0, row(last.addSecs(s), 5000));
        QVERIFY(page->liveSampleCount() <= TrendPage::LiveKeepSecs + 301);
        // Nor do many samples a second (a test rig's short poll): one point a second.
        const int kept = page->liveSampleCount();
        for (int n = 0; n < 50; ++n)
            page->appendSample(0, row(last.addSecs(4601), 5000 + n));
        QCOMPARE(page->liveSampleCount(), kept + 1);
    }

    void rangePicker_data()
    {
        columns<int, QString, int, QString>("samples", "button", "points", "state");
        QTest::newRow("empty table") << 0 << "allBtn" << 0 << "No samples stored";
        QTest::newRow("one sample, all") << 1 << "allBtn" << 1 << "History";
        QTest::newRow("one sample, last hour") << 1 << "lastHourBtn" << 1 << "History";
        QTest::newRow("a day, last day") << 3 << "lastDayBtn" << 3 << "History";
        QTest::newRow("range without samples") << 3 << "showBtn" << 0 << "No samples in this range";
    }
    void rangePicker()
    {
        QFETCH(int, samples);
        QFETCH(QString, button);
        for (int s = 0; s < samples; ++s)
            store(Start.addSecs(s * 3600), 5000 + s);
        // "Show" reads the range of the pickers: a year before the samples.
        child<QDateTimeEdit>(page.get(), "fromDT")->setDateTime(Start.addYears(-1));
        child<QDateTimeEdit>(page.get(), "toDT")->setDateTime(Start.addYears(-1).addDays(1));
        QSignalSpy shown(page.get(), &TrendPage::rangeShown);
        child<QPushButton>(page.get(), qPrintable(button))->click();
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 20000);
        QVERIFY(!page->isLive());
        QTEST(voltage()->count(), "points");
        QTEST(texts(page.get(), "lb_state"), "state");
        // The newest sample is in sight, also when it is the only one.
        const QDateTime newest = Start.addSecs((samples - 1) * 3600);
        QVERIFY(!voltage()->count() || (page->visibleFrom() < newest && page->visibleTo() >= newest));
    }

    // A To before a From is refused in the current language; a newer range supersedes an older one.
    void rangeRequests()
    {
        for (int s = 0; s < 100; ++s)
            store(Start.addSecs(s), 5000 + s);
        QVERIFY(!page->showRange(Start, Start.addSecs(-1)));
        page->setLanguage(Language::Chinese);
        QVERIFY(!page->showRange(Start, Start.addSecs(-1)));
        QCOMPARE(boxes, QStringList({"The end of the range is before its start.", "结束时间早于开始时间。"}));
        QVERIFY(page->isLive());
        QSignalSpy shown(page.get(), &TrendPage::rangeShown);
        QVERIFY(page->showRange(Start, Start)); // one second is a range
        QVERIFY(page->showRange(Start.addSecs(10), Start.addSecs(19)));
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 20000);
        QTest::qWait(200);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(voltage()->count(), 10);
        QCOMPARE(voltage()->at(0).y(), 50.10);
    }

    void textsFollowTheLanguage()
    {
        const QStringList expected{"实时|显示|最近一小时|最近一天|全部|保存图片…|10 分钟|总电压",
                                   "Live|Show|Last hour|Last day|All|Save image…|10 min|Pack voltage"};
        for (int language : {0, 1}) {
            page->setLanguage(Language(language));
            emit page->languageSwich();
            QCOMPARE(texts(page.get(), "liveBtn|showBtn|lastHourBtn|lastDayBtn|allBtn|saveImageBtn|windowCB") + '|'
                         + voltage()->name(), expected[language]);
        }
    }

    // The picture replaces an older one only when whole: on a full disk the old one stays and the box says why.
    void savePicture()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("trend.png");
        const Dialogs::Hook answerAll = Dialogs::currentHook();
        Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
            return fileName ? *fileName = dir.filePath("trend"), 0 : answerAll(r, fileName);
        });
        store(Start, 5200);
        page->on_saveImageBtn_clicked();
        QCOMPARE(QImage(file).size(), page->chartView()->size());
        const QByteArray before = readFile(file);
        {
            FileSizeLimit full(1024);
            page->on_saveImageBtn_clicked();
        }
        Dialogs::setHook(answerAll);
        QCOMPARE(boxes, QStringList{"Cannot save " + file + ": File too large"});
        QVERIFY(readFile(file) == before);
        QCOMPARE(entries(dir.path()), QStringList{"trend.png"});
    }
};

QTEST_MAIN(TestTrendPage)
#include "tst_trendpage.moc"
