#include "store/recordtable.h"

#include "model/valueformat.h"
#include "store/packlist.h"
#include "store/schema.h"
#include "store/trendstore.h"

#include <QColor>
#include <QSqlDatabase>

#include <algorithm>

namespace RecordTable {

namespace {

// The shown columns of a row listed in store/tablerows.h.
QVector<Column> shownColumns(const RowColumn &(*column)(int), int count)
{
    QVector<Column> columns;
    columns.reserve(count);
    for (int f = 0; f < count; ++f) {
        const RowColumn &c = column(f);
        columns.append(Column{QString::fromLatin1(c.name), QString::fromUtf8(c.chinese),
                              QString::fromLatin1(c.english), c.rule});
    }
    return columns;
}

Definition makeHistory()
{
    Definition d;
    d.connectionName = QStringLiteral("connection1");
    d.table = QStringLiteral("total");
    d.createStatement = QString::fromLatin1(Schema::CreateTotalTable);
    // The trend's minute summary and the index on the pack's serial.
    d.companions = [](QSqlDatabase db) {
        const bool summary = Trend::ensureSummary(db);
        return PackList::ensureIndex(db) && summary;
    };
    d.columns = shownColumns(HistoryRow::column, HistoryRow::Count);
    return d;
}

Definition makeDatalog()
{
    Definition d;
    d.connectionName = QStringLiteral("connection2");
    d.table = QStringLiteral("record");
    // Clear re-creates the table with the serial number column untyped.
    d.createStatement = QString::fromLatin1(Schema::RecreateRecordTable);
    d.columns = shownColumns(DatalogRow::column, DatalogRow::Count);
    return d;
}

QString heaterText(bool on, int language)
{
    return on ? pickText(language, QStringLiteral("开"), QStringLiteral("on"))
              : pickText(language, QStringLiteral("关"), QStringLiteral("off"));
}

// Position of each text in the order the shown texts sort in (code unit
// order, as a header-click sort of shown texts compares them).
QVector<int> textRanks(const QStringList &texts)
{
    QStringList sorted = texts;
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    QVector<int> ranks;
    for (const QString &t : texts)
        ranks.append(sorted.indexOf(t));
    return ranks;
}

bool languageDependent(Rule rule) { return rule == Rule::StatusText || rule == Rule::HeaterText; }

} // namespace

QStringList Definition::chineseHeaders() const
{
    QStringList headers;
    for (const Column &c : columns)
        headers.append(c.chinese);
    return headers;
}

QStringList Definition::englishHeaders() const
{
    QStringList headers;
    for (const Column &c : columns)
        headers.append(c.english);
    return headers;
}

QString Definition::selectList() const
{
    QStringList names{QStringLiteral("id")};
    for (const Column &c : columns)
        names.append(c.name);
    return QStringLiteral("select %1 from %2").arg(names.join(QLatin1Char(',')), table);
}

QString Definition::insertStatement() const
{
    QStringList names;
    QStringList marks;
    for (const Column &c : columns) {
        names.append(c.name);
        marks.append(QStringLiteral("?"));
    }
    return QStringLiteral("insert into %1(%2)values(%3)")
        .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

QString Definition::sortKey(int column, int language) const
{
    const Column &c = columns.at(column);
    const bool textLanguage = language == 0 || language == 1;
    switch (c.rule) {
    case Rule::StatusText: {
        if (!textLanguage)
            break;
        // The shown text follows the first set bit of 0, 1, 2, 3, else
        // standby; order the five states as their texts sort.
        const QStringList texts{operatingStateText(0x1, language), operatingStateText(0x2, language),
                                operatingStateText(0x4, language), operatingStateText(0x8, language),
                                operatingStateText(0x0, language)};
        const QVector<int> r = textRanks(texts);
        return QStringLiteral("(case when %1&1 then %2 when %1&2 then %3 when %1&4 then %4 when %1&8 then %5 "
                              "else %6 end)")
            .arg(c.name)
            .arg(r[0])
            .arg(r[1])
            .arg(r[2])
            .arg(r[3])
            .arg(r[4]);
    }
    case Rule::HeaterText: {
        if (!textLanguage)
            break;
        const QVector<int> r = textRanks({heaterText(true, language), heaterText(false, language)});
        return QStringLiteral("(case when %1 then %2 else %3 end)").arg(c.name).arg(r[0]).arg(r[1]);
    }
    case Rule::PackedDateTime:
        // Stored as the decimal text of the packed value, whose numeric
        // order is the chronological one.
        return QStringLiteral("cast(%1 as integer)").arg(c.name);
    default:
        break;
    }
    return c.name;
}

QString Definition::sortIndexName(int column, int language) const
{
    const Column &c = columns.at(column);
    QString name = QStringLiteral("%1_sort_%2").arg(table, c.name);
    if (languageDependent(c.rule) && (language == 0 || language == 1))
        name += language == 0 ? QStringLiteral("_zh") : QStringLiteral("_en");
    return name;
}

const Definition &history()
{
    static const Definition d = makeHistory();
    return d;
}

const Definition &datalog()
{
    static const Definition d = makeDatalog();
    return d;
}

void appendDisplayText(QString &out, Rule rule, const QVariant &stored, int language)
{
    switch (rule) {
    case Rule::Text:
        out += stored.toString();
        return;
    case Rule::Decimal:
        appendFixedPoint(out, stored.toInt(), 0);
        return;
    case Rule::Hundredths:
        appendFixedPoint(out, stored.toInt(), 2);
        return;
    case Rule::Thousandths:
        appendFixedPoint(out, stored.toInt(), 3);
        return;
    case Rule::Tenths:
        appendFixedPoint(out, stored.toInt(), 1);
        return;
    case Rule::Hex4:
        appendHex4(out, quint16(stored.toInt()));
        return;
    case Rule::StatusText:
        out += operatingStateText(quint16(stored.toInt()), language);
        return;
    case Rule::HeaterText:
        out += heaterText(stored.toInt() != 0, language);
        return;
    case Rule::PackedDateTime:
        appendPackedClock(out, quint32(stored.toLongLong()));
        return;
    }
}

QString displayText(Rule rule, const QVariant &stored, int language)
{
    QString text;
    appendDisplayText(text, rule, stored, language);
    return text;
}

bool isProtectionStatus(const QVariant &stored)
{
    const int status = stored.toInt();
    return !(status & 0x1) && !(status & 0x2) && (status & 0x4);
}

} // namespace RecordTable
