#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// The simulated battery pack behind the slave: a 16-cell LFP pack of 100 Ah
// with the BMS's 65536 holding registers. The monitoring registers (0..38)
// are not stored state but a function of the time since the start: the pack
// runs through charge and discharge cycles, its temperatures drift above and
// below freezing, and warnings follow the thresholds held in the parameter
// registers, so that a threshold written by the tool shows in the next
// monitoring answer. The parameter registers (45..135) start at plausible
// factory values and keep whatever is written; registers 45 and 46 hold the
// BMS clock, which runs on from the value last written. The record slots
// (record n at register (n + 15) * 32) hold a log of earlier snapshots, the
// same for every start.
class BmsModel
{
public:
    static constexpr int RegisterCount = 65536;
    static constexpr int Cells = 16;
    static constexpr int RecordCount = 680;
    static constexpr int RecordRegisters = 28;
    static constexpr int FullCapacityDeciAh = 1000; // 100.0 Ah

    // One cycle of the pack, in seconds from the start of the cycle.
    static constexpr int ChargeEndS = 24;
    static constexpr int DischargeStartS = 30;
    static constexpr int DischargeEndS = 54;
    static constexpr int CycleS = 60;

    enum class Phase { Charge, RestAfterCharge, Discharge, RestAfterDischarge };

    // The pack as it is at one moment.
    struct State
    {
        Phase phase = Phase::Charge;
        int cycle = 0;              // number of completed cycles since the start
        double soc = 0;             // percent
        int current = 0;            // 0.01 A, positive while charging
        int cellMv[Cells] = {};
        int ambient = 0;            // degC
        int pcb = 0;                // degC
        int sensor[4] = {};         // degC
        quint16 status = 0;
        quint16 warnings = 0;
        quint16 protections = 0;
        quint16 errors = 0;
        quint16 balancing = 0;      // cells being balanced (bit i = cell i+1)
        int totalCentiVolt() const;
        int minSensor() const;
        int maxSensor() const;
    };

    explicit BmsModel(quint32 seed = 1, const QDateTime &clockStart = QDateTime::currentDateTime());

    // Identity texts, cut to their fields (24, 6 and 16 bytes).
    void setIdentity(const QString &model, const QString &version, const QString &serial);

    // Brings registers [start, start + count) up to date for a read at
    // `elapsedMs` after the start (monitoring values, clock).
    void prepareRead(int start, int count, qint64 elapsedMs);
    // Stores registers written by the master; a write to the clock sets it.
    void writeRegisters(int start, const QVector<quint16> &values, qint64 elapsedMs);
    quint16 reg(int address) const { return m_regs.at(address & 0xFFFF); }

    State stateAt(qint64 elapsedMs) const;
    static Phase phaseAt(qint64 elapsedMs);

    // The BMS clock packed as in registers 45/46 and records: year - 2000,
    // month, day, hour, minute, second in 6/4/5/5/6/6 bits.
    static quint32 clockCode(const QDateTime &time);
    static QDateTime clockTime(quint32 code); // invalid for impossible dates

    // The BMS's own ID and protocol settings (commands with first byte 0x10).
    static QStringList rs485Protocols();
    static QStringList canProtocols();
    int rs485Protocol = 0;
    int canProtocol = 0;
    // The protocols this pack offers (names of at most 10 characters).
    QStringList rs485ProtocolNames = rs485Protocols();
    QStringList canProtocolNames = canProtocols();

private:
    int paramTemp(int address) const { return qint16(m_regs.at(address)) - 50; }
    void fillParameters();
    void fillRecords();
    void storeMonitoring(const State &s);
    void storeText(int firstRegister, int bytes, const QString &text);
    quint32 noise(quint32 a, quint32 b) const;

    QVector<quint16> m_regs;
    quint32 m_seed;
    int m_cellOffsetMv[Cells] = {};
    QDateTime m_clockBase;   // what the clock showed at m_clockBaseMs
    qint64 m_clockBaseMs = 0;
    bool m_clockRuns = true; // false after an impossible date was written
};
