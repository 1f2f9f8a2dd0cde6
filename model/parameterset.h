#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// A parameter set kept in a file, so that many packs can be set up alike:
// the ticked groups and the shown text of every field of those groups. The
// clock is never stored (a saved time is stale); a set that lists TIME_SET
// has the pack's clock set from the PC's when it is written.
//
// {"format": "packscope-parameter-set", "version": 1, "model": ..., "serial": ...,
//  "saved": "yyyy-MM-dd hh:mm:ss", "groups": [group names in write order],
//  "values": {field name: text, ...}}
namespace ParamSet {

struct Set
{
    QString model;
    QString serial;
    QString saved;
    QStringList groups;            // in write order
    QMap<QString, QString> values; // field name -> text
};

// A refusal: what is wrong and where in the file.
struct Problem
{
    QString where; // e.g. "values.COVW", "groups[2]", "offset 17"
    QString what;  // in English; the page words it in its language
    bool isNull() const { return what.isEmpty(); }
};

// The file's bytes (indented JSON). Groups are written in write order.
QByteArray serialize(const Set &set);

// Reads a set and checks it against the parameter map: a known format and
// version 1, known group names, for every listed group (but TIME_SET) each
// of its fields and no other, every value a text its register can hold.
// `problem` is set (and the result empty) when the file is refused.
Set parse(const QByteArray &bytes, Problem *problem);

// Reads and parses a set file. Only a regular file of at most MaxFileBytes
// is read: a FIFO would wait for a writer for ever, a device may never end,
// so both are refused before anything is read, as are folders and larger
// files; a key that appears twice in an object is refused, naming it.
constexpr qint64 MaxFileBytes = 1024 * 1024;
Set load(const QString &fileName, Problem *problem);

// The set of the groups in `mask` (TIME_SET aside: a clock is never kept)
// with the values `image` holds, as their fields show them.
Set fromImage(const quint16 *image, unsigned mask);

// Bit mask of the set's groups (bit i = the map's group i).
unsigned groupMask(const Set &set);

} // namespace ParamSet
