#pragma once

#include "model/livedata.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// The BMS's parameter registers 45..135: which register holds which
// setting, how a register value becomes the text of its field and a typed
// text a register value, the packing of the clock, the order in which a
// write sequence visits the registers and the factory values. One table
// drives the page, the write walk, the parameter-set files and the tests.
namespace Param {

enum class Scale {
    Milli, // u16 thousandths (mV): 3400 <-> "3.400"
    Centi, // u16 hundredths (10 mV, 10 mA): 4320 <-> "43.20"
    Temp,  // degC + 50, read as i16: 45 <-> "-5"
    Plain, // u16 count, time or percentage
    Clock, // registers 45 (high word) and 46 (low word)
};

struct Field
{
    quint16 reg;
    const char *name;    // object name of the value field (and key in set files)
    const char *labelZh; // label texts set on a language change
    const char *labelEn;
    Scale scale;
    const char *unit;    // unit label, the same in both languages
    int group;           // index into groups()
    int factory;         // factory register value; -1: none (heating, clock)
};

struct Group
{
    const char *name; // object name of the group's check box
    const char *labelZh;
    const char *labelEn;
    QVector<quint16> chain; // registers in the order a write visits them
};

// Groups in write order (the chain starts with CUV and ends with TIME_SET).
const QVector<Group> &groups();
int groupCount();
int groupIndex(const QString &name); // -1 when unknown
int timeSetGroup();                  // index of TIME_SET

// Every field in register order: the 51 value fields and BMS_TIME.
const QVector<Field> &fields();
const Field *fieldByName(const QString &name);

constexpr quint16 ClockHigh = 45;
constexpr quint16 ClockLow = 46;
constexpr quint16 ChainStart = 61;
// After the clock frame has been prepared: its acknowledgement ends the sequence.
constexpr quint16 ClockInFlight = WriteChainDone + 1;

// Register value as its field shows it.
QString fieldText(Scale scale, quint16 value);

// A typed text checked against its register.
struct Parsed
{
    enum Error { None, NotNumber, Negative, TooLarge, Fraction, NotStorable, BadClock };
    Error error = None;
    quint16 value = 0; // register value (clock: high word)
    quint16 low = 0;   // clock only: low word
    bool ok() const { return error == None; }
};
// Milli and Centi take a single-precision float in the C locale and round
// half up ("+5, then /10"), so 3.4005 is stored as 3401; Temp and Plain take
// a decimal integer. Refused: texts that do not parse, negative values for
// unsigned registers, values the register cannot hold, fractions in
// whole-number fields, temperatures whose stored value would read back as
// another temperature, clock texts that are not a real date and time
// 2000-01-01 00:00:00 .. 2063-12-31 23:59:59 written yyyy-MM-dd hh:mm:ss.
Parsed parseField(Scale scale, const QString &text);
// Why a text was refused, in language 0 (Chinese) or 1 (English).
QString errorText(Parsed::Error error, int language);

// The clock: year-2000, month, day, hour, minute, second in 6/4/5/5/6/6 bits.
QString clockText(quint16 high, quint16 low);
// Decimal digits of the text, in order, as one number; 0 when there are
// none or they do not fit 64 bits.
quint64 digitsToNumber(const QString &text);
// Clock code of a text whose digits are, by position, yyyy MM dd hh mm ss.
quint32 clockCode(const QString &text);

// One step of a write sequence from `writeRegister`, with the groups whose
// bits are set in `ticked` (bit i = groups()[i]).
struct WriteStep
{
    bool hasFrame = false;
    quint16 reg = 0;
    int count = 0;                         // 1, or 2 for the clock frame
    quint16 nextRegister = WriteChainDone; // the new writeRegister
};
WriteStep nextWrite(quint16 writeRegister, quint32 ticked);
// The write frame for address 1 with the values of `image`, CRC sealed.
QByteArray writeFrame(const WriteStep &step, const quint16 *image);
// Registers a whole sequence writes, in order (the clock as 45).
QVector<quint16> writeOrder(quint32 ticked);

// factoryDefaults: (register, value) for the 49 registers with a fixed value.
struct Default
{
    quint16 reg;
    quint16 value;
};
QVector<Default> factoryDefaults();

} // namespace Param
