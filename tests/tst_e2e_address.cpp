// The address and protocol page through the window: the Tools menu and its commands against the
// simulator; answers that must not reach it and a set command never confirmed, played by a fake BMS.
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
#include <QTemporaryDir>
#include "pages/packspage.h"
#include "pages/packtablemodel.h"

#include <QComboBox>
#include <QSqlDatabase>
#include <QLabel>
#include <QSqlQuery>
#include <QtTest>

namespace {
// The history rows of the simulated pack at `id` (its serial ends in the ID).
int rowsOf(int id)
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
    q.prepare(QStringLiteral("select count(*) from total where BMS_ISDN=?"));
    q.addBindValue(QStringLiteral("PS2026120600%1").arg(id, 3, 10, QLatin1Char('0')));
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}
} // namespace

class TestE2eAddress : public QObject
{
    Q_OBJECT

    E2e e;
    PAndIdRW *page() const { return e.window->addressPage(); }
    QPushButton *button(const char *name) const { return child<QPushButton>(page(), name); }
    QComboBox *list(const char *name) const { return child<QComboBox>(page(), name); }
    // Clicks Search and waits until its Modify is enabled (the answer came).
    bool search(const char *search, const char *modify)
    {
        button(search)->click();
        return QTest::qWaitFor([&] { return button(modify)->isEnabled(); }, E2e::Deadline);
    }

private slots:
    void cleanup() { e.reset(); }

    // The Tools menu opens the page; Search fills each list; Modify ID, restart the pack, and it answers
    // at the new address; the menu is disabled while monitoring.
    void menuSearchAndModifiedId()
    {
        QVERIFY(e.start());
        MainWindow &w = *e.window;
        auto *menu = child<QMenu>(&w, "toolsMenu");
        QCOMPARE(texts(&w, "toolsMenu|addressPageAction"), QStringLiteral("Tools|Address and protocol…"));
        QVERIFY(!page()->isVisible());
        child<QAction>(&w, "addressPageAction")->trigger();
        QVERIFY(page()->isVisible() && page()->isWindow());
        QCOMPARE(page()->windowTitle() + '|' + texts(page(), "current_485"), QStringLiteral("Address and protocol|Search"));
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
        QCOMPARE(texts(&w, "toolsMenu|addressPageAction"), QStringLiteral("工具|地址与协议…"));
        QCOMPARE(page()->windowTitle() + '|' + texts(page(), "rw_can_lb|select_id"), QStringLiteral("地址与协议|can协议|修改"));

        QVERIFY(search("current_485", "select_485"));
        QCOMPARE(items(list("rw_485_cb")), QStringList({"MODBUS-RTU", "SIM-485A", "SIM-485B"}));
        QVERIFY(search("current_can", "select_can"));
        QCOMPARE(items(list("rw_can_cb")), QStringList({"CAN-STD", "CAN-EXT"}));
        QVERIFY(search("current_id", "select_id"));
        QCOMPARE(list("rw_id_cb")->currentText() + ' ' + QString::number(list("rw_id_cb")->count()), QStringLiteral("1 64"));
        list("rw_id_cb")->setEditText(QStringLiteral("12"));
        button("select_id")->click();
        QTRY_VERIFY_WITH_TIMEOUT(e.boxes.contains("Successful: id modify successfully!!!\r\nPlease restart the battery.!!!"),
                                 E2e::Deadline);
        QVERIFY(e.lines().contains(QStringLiteral("发→◇10 07 01 0C B4 B0")));

        QVERIFY(e.sim.send(QStringLiteral("restart")));
        QVERIFY(w.setSlaveAddress(12));
        QSignalSpy online(&w, &MainWindow::linkOnline);
        w.on_monitorBtn_clicked();
        QVERIFY(!menu->menuAction()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(online.count() > 0, E2e::Deadline);
        w.on_monitorBtn_clicked();
        QVERIFY(menu->menuAction()->isEnabled());
    }

    // Typed IDs held to 1..64; late and second answers kept from the lists; a received ID outside
    // 1..64 shown but not sent; a set command never confirmed gets a warning.
    void onlyTheAnswerToTheCommandReachesThePage()
    {
        FakeBms bms;
        QVERIFY(bms.open());
        e.open(bms.deviceName(), 0, 5); // the page's frames start with 0x10 whatever the slave address
        MainWindow &w = *e.window;
        QLineEdit *edit = list("rw_id_cb")->lineEdit();
        QVERIFY((edit->alignment() & Qt::AlignHCenter) && list("rw_485_cb")->lineEdit()->isReadOnly());
        QTest::keyClicks(edit, "0640");
        QCOMPARE(edit->text(), QStringLiteral("64"));
        button("current_485")->click();
        QCOMPARE(bms.waitForBytes(5), hex("10030070F5"));
        bms.answer(hex("05034E") + QByteArray(78, '\x11') + QByteArray(2, '\0'));
        QTRY_COMPARE_WITH_TIMEOUT(w.commLog().lineCount(), 2, E2e::Deadline); // logged, then dropped
        QVERIFY(list("rw_485_cb")->count() == 0 && !button("select_485")->isEnabled());
        const QByteArray answer = hex("10031601 02 52533438350000000000 4D4F4442555300000000 0000");
        bms.answer(answer);
        QTRY_COMPARE_WITH_TIMEOUT(items(list("rw_485_cb")), (QStringList{"RS485", "MODBUS"}), E2e::Deadline);
        QCOMPARE(list("rw_485_cb")->currentIndex(), 1);
        bms.answer(answer);
        QTRY_COMPARE_WITH_TIMEOUT(w.commLog().lineCount(), 4, E2e::Deadline);
        QCOMPARE(list("rw_485_cb")->count(), 2);

        button("current_id")->click();
        QCOMPARE(bms.waitForBytes(5), hex("1002007165"));
        bms.answer(hex("1002014D0000")); // ID 77
        QTRY_VERIFY_WITH_TIMEOUT(button("select_id")->isEnabled(), E2e::Deadline);
        QCOMPARE(list("rw_id_cb")->currentText() + ' ' + list("rw_id_cb")->itemText(63), QStringLiteral("77 64"));
        button("select_id")->click();
        QCOMPARE(e.boxes, QStringList("Warning: The ID must be from 1 to 64!!!"));
        QTest::qWait(100);
        QVERIFY(bms.takeWritten().isEmpty());

        e.boxes.clear();
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
        button("select_485")->click(); // MODBUS, never confirmed
        QVERIFY(e.boxes.isEmpty()); // not while the slot runs
        QCOMPARE(bms.waitForBytes(6), hex("10050101D4B5"));
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes, QStringList("警告: 电池没有确认修改!!!\r\n请检查连接后重试。"), E2e::Deadline);
    }

    // packscope --scan on a line with packs at IDs 1, 3 and 7: exactly those, in ID order, a line
    // each; a range with none of them exits 1 with the reason.
    void scanListsThePacksOnTheLine_data()
    {
        columns<QString, int, QString>("range", "exitCode", "out");
        QTest::newRow("every ID") << "" << 0
                                  << "1\tPS16S-100AH\tV1.2.0\tPS2026120600001\n3\tPS16S-100AH\tV1.2.0\tPS2026120600003\n"
                                     "7\tPS16S-100AH\tV1.2.0\tPS2026120600007\n";
        QTest::newRow("2-6") << "2-6" << 0 << "3\tPS16S-100AH\tV1.2.0\tPS2026120600003\n";
        QTest::newRow("none in 4-6") << "4-6" << 1 << "";
    }
    void scanListsThePacksOnTheLine()
    {
        QFETCH(QString, range);
        QVERIFY(e.sim.start({"--address", "1,3,7"}));
        QTemporaryDir dir;
        QStringList args{"--port", e.sim.deviceName(), "--scan"};
        if (!range.isEmpty())
            args << range;
        const ProgramRun r = runProgram(copyProgram(dir), args);
        QTEST(r.code, "exitCode");
        QTEST(r.out, "out");
        QVERIFY2(r.code == 0 || r.err.contains("no pack answered at IDs 4-6 on " + e.sim.deviceName()), qPrintable(r.err));
    }

    // Tools → Scan the bus… on the same line, English: the three packs in a box.
    void scanFromTheMenu()
    {
        QVERIFY(e.start({"--address", "1,3,7"}));
        e.window->findChild<QAction *>("scanBusAction")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes, QStringList("Scan the bus: 3 pack(s) found:\n\n"
                                                       "ID 1: PS16S-100AH  V1.2.0  PS2026120600001\n"
                                                       "ID 3: PS16S-100AH  V1.2.0  PS2026120600003\n"
                                                       "ID 7: PS16S-100AH  V1.2.0  PS2026120600007"),
                                  E2e::Deadline);
        QVERIFY(child<QPushButton>(e.window.get(), "monitorBtn")->isEnabled());

        // "Found" then polls the three: each stores rows of its own, and one
        // that falls silent goes offline alone.
        QCOMPARE(child<QComboBox>(e.window.get(), "comboBox")->currentText(), QStringLiteral("Found"));
        e.window->setPollInterval(300);
        child<QPushButton>(e.window.get(), "monitorBtn")->click();
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(1) >= 3 && rowsOf(3) >= 3 && rowsOf(7) >= 3, E2e::Deadline);
        PackTableModel *packs = e.window->packsPage()->model();
        const auto link = [packs](int id) { return packs->index(packs->rowOf(quint8(id)), PackTableModel::Link).data().toString(); };
        QVERIFY(e.sim.send(QStringLiteral("silent 3 on")));
        QTRY_COMPARE_WITH_TIMEOUT(link(3), QStringLiteral("Offline"), E2e::Deadline);
        const int of3 = rowsOf(3), of7 = rowsOf(7);
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(7) >= of7 + 3, E2e::Deadline);
        QCOMPARE(rowsOf(3), of3);
        QCOMPARE(link(1) + link(7), QStringLiteral("OnlineOnline"));
    }

    // Packs that take 80 ms to answer, where four share 200 ms in turns of
    // 57: the first late answers lengthen the turns, and every pack is
    // monitored (each answer inside its own turn, none into the next).
    void slowPacksGetLongerTurns()
    {
        QVERIFY(e.start({"--address", "1-4", "--byte-time", "115200", "--answer-delay", "80"}, 200));
        e.window->setSlaveAddresses({1, 2, 3, 4});
        e.window->on_monitorBtn_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(1) >= 3 && rowsOf(2) >= 3 && rowsOf(3) >= 3 && rowsOf(4) >= 3, E2e::Deadline);
        QVERIFY(e.window->session()->isCycleStretched());
        QVERIFY2(e.window->session()->cycleMs() >= 4 * 88, qPrintable(QString::number(e.window->session()->cycleMs())));
        QVERIFY(child<QLabel>(e.window.get(), "storeLabel")->text().endsWith(QStringLiteral(" s (a pack answers slowly)")));
    }
};

QTEST_MAIN(TestE2eAddress)
#include "tst_e2e_address.moc"
