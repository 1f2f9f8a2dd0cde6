#pragma once

#include "model/parametermap.h"

#include <QString>
#include <QVector>
#include <QtGlobal>
#include <functional>

// Settings that make sense together. A BMS takes any value into any of its
// parameter registers, so nothing on the wire stops a warning level above
// the protection level of the opposite limit, or a protection level past its
// release level (the pack then cuts off and recovers over and over). These
// rules are checked before a write, over the values the pack will hold after
// it: the written groups' new values together with the values last read from
// the pack for the others.
namespace Param {

struct Rule
{
    enum Kind {
        NotAbove, // a <= b
        Below,    // a < b
        NotBelow, // a >= b
        Above,    // a > b
        Within,   // lo <= a <= hi, in the field's shown unit (mV, degC, %)
    };
    Kind kind;
    const char *a;
    const char *b; // null for Within
    int lo = 0;
    int hi = 0;
};

// Every rule, grouped: protection against warning and release of each
// limit, the windows between lower and upper limits, the current stages,
// heating, and the ranges a value may take.
const QVector<Rule> &rules();

// A register value as a number that compares like the setting it stands
// for: temperatures signed in degC, the others as stored.
int ruleValue(const Field &field, quint16 value);

struct Violation
{
    const Rule *rule = nullptr;
    const Field *a = nullptr;
    const Field *b = nullptr;
    quint16 valueA = 0;
    quint16 valueB = 0;
    // "CUVP 2.700 must not be above CUVW 2.500" with field names (for the
    // command line), or with the fields' labels and units in language 0
    // (Chinese) or 1 (English) for the page.
    QString text(bool fieldNames, int language = 1) const;
};

// The rules broken by `image` (registers by address) among those that
// involve at least one register for which `written` is true: a write
// neither answers for nor is held up by what it does not touch.
QVector<Violation> brokenRules(const quint16 *image, const std::function<bool(quint16 reg)> &written);

} // namespace Param
