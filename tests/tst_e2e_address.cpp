// The address and protocol page through the window: the Tools menu, its commands against the
// simulator, and answers that must not reach it, played by a fake BMS.
#include "model/livedata.h"
#include "pages/pandidrw.h"
#include "support/e2e.h"
#include "support/fakebms.h"
#include "support/helpers.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestE2eAddress : public QObject
{
    Q_OBJECT

    E2e e;

private slots:
    void cleanup() { e.reset(); }

    void toolsMenuOpensThePage()
    {
        QVERIFY(e.start());
        MainWindow &w = *e.window;
        auto *menu = child<QMenu>(&w, "toolsMenu");
        PAndIdRW *page = w.addressPage();
        QCOMPARE(texts(&w, "toolsMenu|addressPageAction"), QStringLiteral("Tools|Address and protocol…"));
        QVERIFY(!page->isVisible());
        child<QAction>(&w, "addressPageAction")->trigger();
        QVERIFY(page->isVisible() && page->isWindow());
        QCOMPARE(page->windowTitle() + '|' + texts(page, "current_485"), QStringLiteral("Address and protocol|Search"));
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
        QCOMPARE(texts(&w, "toolsMenu|addressPageAction"), QStringLiteral("工具|地址与协议…"));
        QCOMPARE(page->windowTitle() + '|' + texts(page, "rw_can_lb|select_id"), QStringLiteral("地址与协议|can协议|修改"));

        w.on_monitorBtn_clicked();
        QVERIFY(w.isMonitoring());
        QVERIFY(!menu->menuAction()->isEnabled());
        w.on_monitorBtn_clicked();
        QVERIFY(menu->menuAction()->isEnabled());
    }

    void searchFillsEachList_data()
    {
        columns<QStringList, QStringList, QStringList>("simArgs", "rs485", "can");
        const QStringList defaultRs485{"MODBUS-RTU", "SIM-485A", "SIM-485B"}, defaultCan{"CAN-STD", "CAN-EXT"};
        QTest::newRow("the pack's own lists") << QStringList() << defaultRs485 << defaultCan;
        QTest::newRow("ten-character name")
            << QStringList{"--rs485-protocols", "RTU,LIB-RS485A", "--can-protocols", "CAN-500K"}
            << QStringList{"RTU", "LIB-RS485A"} << QStringList{"CAN-500K"};
        QTest::newRow("count beyond its records")
            << QStringList{"--protocol-count-surplus", "3"} << defaultRs485 << defaultCan;
        QTest::newRow("no protocols")
            << QStringList{"--rs485-protocols", "", "--can-protocols", ""} << QStringList() << QStringList();
    }
    void searchFillsEachList()
    {
        QFETCH(QStringList, simArgs);
        QVERIFY(e.start(simArgs));
        PAndIdRW *page = e.window->addressPage();
        child<QPushButton>(page, "current_id")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(page, "select_id")->isEnabled(), E2e::Deadline);
        QCOMPARE(child<QComboBox>(page, "rw_id_cb")->count(), 64);
        QCOMPARE(child<QComboBox>(page, "rw_id_cb")->currentText(), QStringLiteral("1"));

        QFETCH(QStringList, rs485);
        QFETCH(QStringList, can);
        const struct { const char *search, *modify, *list; const QStringList &expected; } rows[] = {
            {"current_485", "select_485", "rw_485_cb", rs485},
            {"current_can", "select_can", "rw_can_cb", can},
        };
        for (const auto &row : rows) {
            child<QPushButton>(page, row.search)->click();
            QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(page, row.modify)->isEnabled(), E2e::Deadline);
            auto *list = child<QComboBox>(page, row.list);
            QCOMPARE(items(list), row.expected);
            QCOMPARE(list->currentIndex(), row.expected.isEmpty() ? -1 : 0);
        }
        QVERIFY(e.boxes.isEmpty());
    }

    void modifiedIdAnswersAfterRestart()
    {
        QVERIFY(e.start());
        MainWindow &w = *e.window;
        PAndIdRW *page = w.addressPage();
        child<QPushButton>(page, "current_id")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(page, "select_id")->isEnabled(), E2e::Deadline);
        child<QComboBox>(page, "rw_id_cb")->setEditText(QStringLiteral("12"));
        child<QPushButton>(page, "select_id")->click();
        QTRY_VERIFY_WITH_TIMEOUT(e.boxes.contains("Successful: id modify successfully!!!\r\nPlease restart the battery.!!!"),
                                 E2e::Deadline);
        QVERIFY(w.commLog().line(2) == QStringLiteral("OUT→◇10 07 01 0C B4 B0"));

        QVERIFY(e.sim.send(QStringLiteral("restart")));
        QVERIFY(w.setSlaveAddress(12));
        QSignalSpy online(&w, &MainWindow::linkOnline);
        w.on_monitorBtn_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(online.count() > 0, E2e::Deadline);
        w.on_monitorBtn_clicked();
    }

    void onlyTheAnswerToTheCommandReachesThePage_data()
    {
        QTest::addColumn<QByteArray>("stray");
        QByteArray monitoring = hex("05034E"); // from the selected slave
        monitoring.append(QByteArray(78, '\x11')).append(2, '\0');
        QTest::newRow("late monitoring answer") << monitoring;
        QTest::newRow("another command's answer") << hex("10040C00 01 43414E2D535444000000 0000");
    }
    void onlyTheAnswerToTheCommandReachesThePage()
    {
        QFETCH(QByteArray, stray);
        FakeBms bms;
        QVERIFY(bms.open());
        MainWindow w;
        w.setPortName(bms.deviceName());
        QVERIFY(w.setSlaveAddress(5)); // the page's frames start with 0x10 whatever the slave address
        PAndIdRW *page = w.addressPage();
        auto *list = child<QComboBox>(page, "rw_485_cb");
        child<QPushButton>(page, "current_485")->click();
        QCOMPARE(bms.waitForBytes(5), hex("10030070F5"));

        bms.answer(stray);
        QTRY_COMPARE_WITH_TIMEOUT(w.commLog().lineCount(), 2, E2e::Deadline); // logged, then dropped
        QCOMPARE(list->count(), 0);
        QVERIFY(!child<QPushButton>(page, "select_485")->isEnabled());

        const QByteArray answer = hex("10031601 02 52533438350000000000 4D4F4442555300000000 0000");
        bms.answer(answer);
        QTRY_COMPARE_WITH_TIMEOUT(items(list), (QStringList{"RS485", "MODBUS"}), E2e::Deadline);
        QCOMPARE(list->currentIndex(), 1);
        // A second answer to the same command is not appended.
        bms.answer(answer);
        QTRY_COMPARE_WITH_TIMEOUT(w.commLog().lineCount(), 4, E2e::Deadline);
        QCOMPARE(list->count(), 2);
    }

    void idOutsideTheRangeIsShownButNotSent()
    {
        FakeBms bms;
        QVERIFY(bms.open());
        MainWindow w;
        w.setPortName(bms.deviceName());
        PAndIdRW *page = w.addressPage();
        auto *ids = child<QComboBox>(page, "rw_id_cb");
        child<QPushButton>(page, "current_id")->click();
        QCOMPARE(bms.waitForBytes(5), hex("1002007165"));
        bms.answer(hex("1002014D0000")); // ID 77
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(page, "select_id")->isEnabled(), E2e::Deadline);
        QCOMPARE(ids->currentText() + ' ' + QString::number(ids->count()) + ' ' + ids->itemText(63), QStringLiteral("77 64 64"));
        child<QPushButton>(page, "select_id")->click();
        QCOMPARE(e.boxes, QStringList("Warning: The ID must be from 1 to 64!!!"));
        QTest::qWait(100);
        QVERIFY(bms.takeWritten().isEmpty());
    }

    void idEditorLimitsTyping()
    {
        PAndIdRW page;
        QLineEdit *edit = child<QComboBox>(&page, "rw_id_cb")->lineEdit();
        QVERIFY(edit->alignment() & Qt::AlignHCenter);
        QTest::keyClicks(edit, "0640");
        QCOMPARE(edit->text(), QStringLiteral("64")); // leading 0 refused, held to 64
        QVERIFY(child<QComboBox>(&page, "rw_485_cb")->lineEdit()->isReadOnly());
    }

    void silentSetCommandIsReported()
    {
        QVERIFY(e.start({"--ignore-set-commands"}));
        MainWindow &w = *e.window;
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
        PAndIdRW *page = w.addressPage();
        child<QPushButton>(page, "current_485")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(page, "select_485")->isEnabled(), E2e::Deadline);
        child<QPushButton>(page, "select_485")->click();
        QVERIFY(e.boxes.isEmpty()); // not while the slot runs
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes, QStringList("警告: 电池没有确认修改!!!\r\n请检查连接后重试。"), E2e::Deadline);
    }
};

QTEST_MAIN(TestE2eAddress)
#include "tst_e2e_address.moc"
