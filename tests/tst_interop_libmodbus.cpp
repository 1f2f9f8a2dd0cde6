// The tool against libmodbus on a pseudo-terminal: a mistake shared by the tool and its
// own simulator cannot hide here.
#include "link/frames.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/presetparameters.h"
#include "pseudoterminal.h"
#include "support/e2e.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <modbus.h>
#include <thread>

namespace {

class LibmodbusSlave
{
public:
    LibmodbusSlave(int slave, int registers)
    {
        m_ok = m_pty.open();
        m_ctx = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
        modbus_set_slave(m_ctx, slave);
        modbus_set_socket(m_ctx, m_pty.masterFd());
        modbus_set_indication_timeout(m_ctx, 0, 100000);
        m_map = modbus_mapping_new(0, 0, registers, 0);
    }
    ~LibmodbusSlave()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        modbus_mapping_free(m_map);
        modbus_set_socket(m_ctx, -1);
        modbus_free(m_ctx);
    }
    bool ok() const { return m_ok && m_ctx && m_map; }
    QString deviceName() const { return m_pty.slaveName(); }
    uint16_t *registers() { return m_map->tab_registers; }
    void start()
    {
        m_thread = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!m_stop) {
                const int rc = modbus_receive(m_ctx, query);
                if (rc > 0)
                    modbus_reply(m_ctx, query, rc, m_map);
            }
        });
    }

private:
    PseudoTerminal m_pty;
    modbus_t *m_ctx = nullptr;
    modbus_mapping_t *m_map = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_ok = false;
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
    QStringList &boxes = e.boxes;

private slots:
    void cleanup() { e.reset(); }

    void monitorsAStandardSlave()
    {
        LibmodbusSlave slave(7, 200);
        QVERIFY(slave.ok());
        uint16_t *r = slave.registers();
        putText(r, Reg::ModelText, "LIBMODBUS-16S", Reg::ModelTextBytes);
        putText(r, Reg::VersionText, "V9.8", Reg::VersionTextBytes);
        putText(r, Reg::SerialText, "SN0123456789ABCD", Reg::SerialTextBytes);
        r[Reg::TotalVoltage] = 5234;
        r[Reg::PackCurrent] = uint16_t(-250);
        for (int i = 0; i < 16; ++i)
            r[Reg::CellVoltage + i] = uint16_t(3290 + i);
        r[Reg::SensorTemp12] = 0xFB19;
        r[Reg::CellCount] = 16;
        slave.start();
        MainWindow w;
        w.setPortName(slave.deviceName());
        QVERIFY(w.setSlaveAddress(7));
        w.on_monitorBtn_clicked();
        QVERIFY(w.isMonitoring());
        QTRY_COMPARE_WITH_TIMEOUT(liveData().registerImage[Reg::TotalVoltage], quint16(5234), E2e::Deadline);
        QCOMPARE(modelText() + '|' + versionText() + '|' + serialText(), QStringLiteral("LIBMODBUS-16S|V9.8|SN0123456789ABCD"));
        QCOMPARE(QVector<int>({packCurrent(), sensorTemp(1), cellVoltageExtremes().max}), QVector<int>({-250, -5, 3305}));
        QCOMPARE(w.commLog().line(0), QStringLiteral("OUT→◇07 03 00 69 00 17 D5 BE"));
        QVERIFY(w.commLog().line(1).startsWith(QStringLiteral("IN←◆07 03 2E 4C 49 42")));
        QCOMPARE(w.commLog().line(2), QStringLiteral("OUT→◇07 03 00 00 00 27 05 B6"));
        QVERIFY(boxes.isEmpty());
    }

    // The slave's registers hold exactly what was typed, and nothing else changed.
    void writesParametersIntoAStandardSlave()
    {
        LibmodbusSlave slave(1, 200);
        QVERIFY(slave.ok());
        uint16_t *r = slave.registers();
        for (int reg = 45; reg <= 135; ++reg)
            r[reg] = uint16_t(reg);
        slave.start();
        MainWindow w;
        w.setPollInterval(300);
        w.setPortName(slave.deviceName());
        w.on_monitorBtn_clicked();
        PresetParameters *page = w.parameterPage();
        QTRY_VERIFY_WITH_TIMEOUT(page->findChild<QPushButton *>("collect")->isEnabled(), E2e::Deadline);
        page->on_collect_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(page->field("OCC_I")->text(), QStringLiteral("0.80"), E2e::Deadline);
        QCOMPARE(page->field("UCTW")->text(), QStringLiteral("40"));
        page->tickGroups((1u << 8) | (1u << 15)); // OCC, TIME_SET
        const char *occ[][2] = {{"OCC_I", "61.5"}, {"OCC_I_DELAY", "9"}, {"OCC_II", "79.99"},
                                {"OCC_II_DELAY", "2"}, {"OCCR", "120"}, {"OCC_CNT", "4"}};
        for (const auto &f : occ)
            page->field(f[0])->setText(f[1]);
        page->field("BMS_TIME")->setText("2026-12-13 09:43:53");
        QVERIFY(page->startWrite());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, 30000);
        QVERIFY2(boxes[0].startsWith("successful: "), qPrintable(boxes[0]));
        QVector<quint16> expected, held;
        for (int reg = 45; reg <= 135; ++reg)
            expected << quint16(reg), held << r[reg];
        const int written[][2] = {{45, 0x6B1A}, {46, 0x9AF5}, {80, 6150}, {85, 9}, {83, 7999}, {86, 2}, {78, 120}, {76, 4}};
        for (const auto &w : written)
            expected[w[0] - 45] = quint16(w[1]);
        QCOMPARE(held, expected);
    }

    // Registers 0..49 only: a refused read counts as unanswered, a refused write ends in a box.
    void exceptionAnswersOfAStandardSlave()
    {
        LibmodbusSlave slave(1, 50);
        QVERIFY(slave.ok());
        slave.start();
        MainWindow w;
        w.setPortName(slave.deviceName());
        w.on_monitorBtn_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(w.link()->counters().exceptions, quint64(1), E2e::Deadline);
        QCOMPARE(w.commLog().line(1), QStringLiteral("IN←◆01 83 02 C0 F1"));
        QVERIFY(boxes.isEmpty());
        QCOMPARE(w.unansweredCount(), quint8(1));
        QCOMPARE(liveData().nextRequest, quint16(IdentityRead));

        w.link()->setWriteFrameSource([] {
            const quint16 value = 3300;
            return Frames::writeRegisters(1, 0x43, &value, 1);
        });
        liveData().nextRequest = ParameterWrite;
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, E2e::Deadline);
        QVERIFY2(boxes[0].startsWith("error: "), qPrintable(boxes[0]));
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
    }
};

QTEST_MAIN(TestInteropLibmodbus)
#include "tst_interop_libmodbus.moc"
