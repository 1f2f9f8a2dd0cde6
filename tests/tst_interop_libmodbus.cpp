// The tool against libmodbus on a pseudo-terminal: a mistake shared by the tool and its
// own simulator cannot hide here.
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/presetparameters.h"
#include "pseudoterminal.h"
#include "support/e2e.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <memory>
#include <modbus.h>
#include <thread>

namespace {
// A libmodbus RTU slave on a pseudo-terminal; it answers from a thread of
// its own once started, its registers filled.
struct LibmodbusSlave
{
    PseudoTerminal pty;
    bool ok = pty.open();
    std::unique_ptr<modbus_t, void (*)(modbus_t *)> ctx{modbus_new_rtu("/dev/null", 115200, 'N', 8, 1), modbus_free};
    std::unique_ptr<modbus_mapping_t, void (*)(modbus_mapping_t *)> map;
    std::atomic<bool> stop{false};
    std::thread thread;

    LibmodbusSlave(int slave, int registers) : map(modbus_mapping_new(0, 0, registers, 0), modbus_mapping_free)
    {
        ok = ok && ctx && map;
        modbus_set_slave(ctx.get(), slave);
        modbus_set_socket(ctx.get(), pty.masterFd());
        modbus_set_indication_timeout(ctx.get(), 0, 100000);
    }
    ~LibmodbusSlave()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    void start()
    {
        thread = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop) {
                const int rc = modbus_receive(ctx.get(), query);
                if (rc > 0)
                    modbus_reply(ctx.get(), query, rc, map.get());
            }
        });
    }
};

void putText(uint16_t *regs, int first, const char *text, int bytes)
{
    const QByteArray t = QByteArray(text).leftJustified(bytes, '\0', true);
    for (int i = 0; i < bytes / 2; ++i)
        regs[first + i] = uint16_t(quint8(t[2 * i]) << 8 | quint8(t[2 * i + 1]));
}
} // namespace

class TestInteropLibmodbus : public QObject
{
    Q_OBJECT
    E2e e;

private slots:

    // Identity and monitoring reads at address 7, then a parameter write: the
    // slave's registers hold exactly what was typed, and nothing else changed.
    void monitorsAndWritesAStandardSlave()
    {
        LibmodbusSlave slave(7, 200);
        QVERIFY(slave.ok);
        uint16_t *r = slave.map->tab_registers;
        for (int reg = 45; reg <= 135; ++reg)
            r[reg] = uint16_t(reg);
        putText(r, Reg::ModelText, "LIBMODBUS-16S", Reg::ModelTextBytes);
        putText(r, Reg::VersionText, "V9.8", Reg::VersionTextBytes);
        putText(r, Reg::SerialText, "SN0123456789ABCD", Reg::SerialTextBytes);
        r[Reg::TotalVoltage] = 5234;
        QVector<quint16> expected(r + 45, r + 136);
        slave.start();
        MainWindow &w = e.open(slave.pty.slaveName(), 300, 7);
        w.on_monitorBtn_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(liveData().registerImage[Reg::TotalVoltage], quint16(5234), E2e::Deadline);
        QCOMPARE(modelText() + '|' + versionText() + '|' + serialText(), QStringLiteral("LIBMODBUS-16S|V9.8|SN0123456789ABCD"));
        QCOMPARE(w.commLog().line(0), QStringLiteral("OUT→◇07 03 00 69 00 17 D5 BE"));
        QVERIFY(w.commLog().line(1).startsWith(QStringLiteral("IN←◆07 03 2E 4C 49 42")));
        QCOMPARE(w.commLog().line(2), QStringLiteral("OUT→◇07 03 00 00 00 27 05 B6"));

        PresetParameters *page = w.parameterPage();
        QTRY_VERIFY_WITH_TIMEOUT(page->findChild<QPushButton *>("collect")->isEnabled(), E2e::Deadline);
        page->on_collect_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(page->field("OCC_I")->text(), QStringLiteral("0.80"), E2e::Deadline);
        page->tickGroups((1u << 8) | (1u << 15)); // OCC, TIME_SET
        const char *typed[][2] = {{"OCC_I", "61.5"}, {"OCC_I_DELAY", "9"}, {"OCC_II", "79.99"}, {"OCC_II_DELAY", "2"},
                                  {"OCCR", "120"}, {"OCC_CNT", "4"}, {"BMS_TIME", "2026-12-13 09:43:53"}};
        for (const auto &f : typed)
            page->field(f[0])->setText(f[1]);
        QVERIFY(page->startWrite());
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes.size(), 1, E2e::Deadline);
        QVERIFY2(e.boxes[0].startsWith("successful: "), qPrintable(e.boxes[0]));
        const int written[][2] = {{45, 0x6B1A}, {46, 0x9AF5}, {80, 6150}, {85, 9}, {83, 7999}, {86, 2}, {78, 120}, {76, 4}};
        for (const auto &w : written)
            expected[w[0] - 45] = quint16(w[1]);
        QCOMPARE(QVector<quint16>(r + 45, r + 136), expected);
    }
};

QTEST_MAIN(TestInteropLibmodbus)
#include "tst_interop_libmodbus.moc"
