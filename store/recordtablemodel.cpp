#include "store/recordtablemodel.h"

#include "store/schema.h"
#include "store/trendstore.h"

#include "model/livedata.h"
#include "model/valueformat.h"

#include <QBrush>
#include <QColor>
#include <QDebug>
#include <QFont>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <limits>




namespace {

QString orderClause(const RecordTable::Definition &def, int sortColumn, int sortLanguage, Qt::SortOrder order,
                    bool reversed, bool filtered)
{
    const bool descending = (order == Qt::DescendingOrder) != reversed;
    const QString dir = descending ? QStringLiteral("desc") : QStringLiteral("asc");
    if (sortColumn < 0)
        return QStringLiteral(" order by id %1").arg(dir);
    // Equal keys keep the order of storing, in the same direction. A
    // filtered view sorts its rows, found by the filter column's index: the
    // sort column's index would be read through the other packs' entries
    // too, a whole table's worth deep down the order (the unary plus keeps
    // SQLite from taking it).
    return QStringLiteral(" order by %1%2 %3,id %3")
        .arg(filtered ? QStringLiteral("+") : QString(), def.sortKey(sortColumn, sortLanguage), dir);
}

void selectError() { qDebug("select error!"); }

} // namespace

bool RecordViewSnapshot::forEachRow(QSqlDatabase db,
                                    const std::function<bool(const QVector<QVariant> &values)> &row) const
{
    if (!definition)
        return false;
    const RecordTable::Definition &def = *definition;
    const int width = def.columnCount() + 1;
    QVector<QVariant> values(width);

    auto walk = [&](QSqlQuery &query) {
        query.setForwardOnly(true);
        if (!query.exec()) {
            selectError();
            return false;
        }
        while (query.next()) {
            for (int i = 0; i < width; ++i)
                values[i] = query.value(i);
            if (!row(values))
                return false;
        }
        return true;
    };

    // A filter comes first in every clause, its value bound first.
    const QString filter = filterColumn.isEmpty() ? QString() : filterColumn + QStringLiteral("=? and ");
    const auto bindFilter = [&](QSqlQuery &query) {
        if (!filterColumn.isEmpty())
            query.addBindValue(filterValue);
    };

    // Rows stored after the last load or sort: on top, newest first.
    if (!freshIds.isEmpty()) {
        QSqlQuery fresh(db);
        fresh.prepare(def.selectList() + QStringLiteral(" where ") + filter
                      + QStringLiteral("id>? and id<=? order by id desc"));
        bindFilter(fresh);
        fresh.addBindValue(orderedMaxId);
        fresh.addBindValue(freshIds.last());
        if (!walk(fresh))
            return false;
    }
    // The ordered part. The unary plus keeps SQLite from serving the id
    // limit by a scan of the table instead of the sort column's index.
    QSqlQuery ordered(db);
    ordered.prepare(def.selectList() + QStringLiteral(" where ") + filter + QStringLiteral("+id<=?")
                    + orderClause(def, sortColumn, sortLanguage, sortOrder, false, !filterColumn.isEmpty()));
    bindFilter(ordered);
    ordered.addBindValue(orderedMaxId);
    return walk(ordered);
}

RecordTableModel::RecordTableModel(const RecordTable::Definition &definition, QObject *parent)
    : QAbstractTableModel(parent), m_def(definition)
{
    m_orderedSelect = m_def.selectList();
}

QSqlDatabase RecordTableModel::database() const { return QSqlDatabase::database(m_def.connectionName); }


int RecordTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(qMin<qint64>(m_freshIds.size() + m_orderedCount, std::numeric_limits<int>::max()));
}

int RecordTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_def.columnCount();
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant RecordTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= m_def.columnCount())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole: {
        const Row *row = rowAt(index.row());
        if (!row)
            return QVariant();
        return RecordTable::displayText(m_def.columns.at(index.column()).rule, row->at(index.column() + 1),
                                        language());
    }
    case Qt::FontRole: {
        // The view's font, bold.
        static const QFont bold = [] {
            QFont font;
            font.setWeight(QFont::Bold);
            return font;
        }();
        return bold;
    }
    case Qt::TextAlignmentRole:
        return int(Qt::AlignHCenter | Qt::AlignVCenter);
    case Qt::BackgroundRole: {
        if (m_def.columns.at(index.column()).rule != RecordTable::Rule::StatusText)
            return QVariant();
        const Row *row = rowAt(index.row());
        if (row && RecordTable::isProtectionStatus(row->at(index.column() + 1)))
            return QBrush(QColor(QStringLiteral("Red")));
        return QVariant();
    }
    default:
        return QVariant();
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0
        && section < m_def.columnCount()) {
        const int lang = language();
        if (lang == 0)
            return m_def.columns.at(section).chinese;
        if (lang == 1)
            return m_def.columns.at(section).english;
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void RecordTableModel::forgetRows()
{
    m_blocks.clear();
    m_freshRows.clear();
}

void RecordTableModel::resetToNewestFirst()
{
    forgetRows();
    m_sortColumn = -1;
    m_sortOrder = Qt::DescendingOrder;
    m_freshIds.clear();
    m_orderedMaxId = 0;
    m_orderedCount = 0;
    // A filtered view skips the ids of the other rows.
    m_contiguous = m_filterColumn < 0;
}

QString RecordTableModel::filterAnd() const
{
    return m_filterColumn < 0 ? QString() : m_def.columns.at(m_filterColumn).name + QStringLiteral("=? and ");
}

void RecordTableModel::bindFilter(QSqlQuery &query) const
{
    if (m_filterColumn >= 0)
        query.addBindValue(m_filterValue);
}

bool RecordTableModel::matchesFilter(const QVector<QVariant> &values) const
{
    return m_filterColumn < 0 || values.value(m_filterColumn).toString() == m_filterValue.toString();
}

void RecordTableModel::setFilter(int column, const QVariant &value)
{
    m_filterColumn = column >= 0 && column < m_def.columnCount() ? column : -1;
    m_filterValue = m_filterColumn < 0 ? QVariant() : value;
    reload();
}

void RecordTableModel::reload()
{
    beginResetModel();
    resetToNewestFirst();
    m_countExact = false;
    QSqlQuery query(database());
    if (m_filterColumn >= 0) {
        // The filtered rows are counted through the filter column's index.
        query.prepare(QStringLiteral("select count(*),max(id) from %1 where %2=?")
                          .arg(m_def.table, m_def.columns.at(m_filterColumn).name));
        bindFilter(query);
        if (!query.exec() || !query.next()) {
            selectError();
        } else {
            m_orderedCount = query.value(0).toLongLong();
            m_orderedMaxId = query.value(1).toLongLong();
            m_countExact = true;
        }
        endResetModel();
        return;
    }
    // Two lookups at the ends of the id key: no scan, whatever the size.
    if (!query.exec(QStringLiteral("select (select min(id) from %1),(select max(id) from %1)").arg(m_def.table))) {
        selectError();
    } else if (query.next() && !query.value(1).isNull()) {
        m_orderedMaxId = query.value(1).toLongLong();
        m_orderedCount = m_orderedMaxId - query.value(0).toLongLong() + 1;
    }
    endResetModel();
}

void RecordTableModel::ensureSortIndex(int column)
{
    if (column < 0 || m_def.sortKey(column, language()) == QLatin1String("id"))
        return;
    QSqlQuery query(database());
    query.exec(QStringLiteral("create index if not exists %1 on %2(%3)")
                   .arg(m_def.sortIndexName(column, language()), m_def.table, m_def.sortKey(column, language())));
}

void RecordTableModel::countRowsExactly()
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("select count(*) from %1 where %2id<=?").arg(m_def.table, filterAnd()));
    bindFilter(query);
    query.addBindValue(m_orderedMaxId);
    if (query.exec() && query.next())
        m_orderedCount = query.value(0).toLongLong();
    else
        selectError();
}

void RecordTableModel::sortByColumn(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= m_def.columnCount())
        return;
    ensureSortIndex(column);
    beginResetModel();
    forgetRows();
    // Every stored row joins the ordered part. Its count must be exact
    // (blocks are read by offsets from either end): after one exact count it
    // is carried along; the first one is cheap with the sort index in place,
    // as SQLite then counts the index's entries rather than the table's pages.
    if (m_countExact) {
        if (!m_freshIds.isEmpty())
            m_orderedMaxId = m_freshIds.last();
        m_orderedCount += m_freshIds.size();
    } else {
        QSqlDatabase db = database();
        QSqlQuery top(db);
        QSqlQuery count(db);
        m_orderedMaxId = 0;
        m_orderedCount = 0;
        const QString where = m_filterColumn < 0 ? QString() : QStringLiteral(" where %1=?").arg(m_def.columns.at(m_filterColumn).name);
        top.prepare(QStringLiteral("select max(id) from %1%2").arg(m_def.table, where));
        count.prepare(QStringLiteral("select count(*) from %1%2").arg(m_def.table, where));
        bindFilter(top);
        bindFilter(count);
        if (top.exec() && top.next() && count.exec() && count.next()) {
            m_orderedMaxId = top.value(0).toLongLong();
            m_orderedCount = count.value(0).toLongLong();
            m_countExact = true;
        } else {
            selectError();
        }
    }
    m_freshIds.clear();
    m_sortColumn = column;
    m_sortOrder = order;
    m_sortLanguage = language();
    endResetModel();
}

qint64 RecordTableModel::appendRow(const QVector<QVariant> &values)
{
    const qint64 id = storeRow(values);
    if (id >= 0)
        showStoredRow(id, values);
    return id;
}

qint64 RecordTableModel::storeRow(const QVector<QVariant> &values, QSqlError *error)
{
    // Prepared once and kept: a row a second for weeks need not parse the
    // statement every time. A failure prepares it anew on the next row.
    if (!m_insertPrepared) {
        m_insert = QSqlQuery(database());
        m_insertPrepared = m_insert.prepare(m_def.insertStatement());
    }
    bool ok = m_insertPrepared;
    if (ok) {
        for (int i = 0; i < values.size(); ++i)
            m_insert.bindValue(i, values.at(i));
        ok = m_insert.exec();
    }
    if (!ok) {
        qDebug("insert error!");
        if (error)
            *error = m_insert.lastError().isValid() ? m_insert.lastError() : database().lastError();
        forgetStatements();
        return -1;
    }
    const qint64 id = m_insert.lastInsertId().toLongLong();
    m_insert.finish(); // no statement may stay active when Clear drops the table
    return id;
}

void RecordTableModel::showStoredRow(qint64 id, const QVector<QVariant> &values)
{
    // The view shows the new row at once: keep what was stored rather than
    // read it back.
    if (!matchesFilter(values))
        return; // another pack's row, not shown in this view
    Row row;
    row.reserve(values.size() + 1);
    row << id << values;
    if (m_freshRows.size() >= 4 * BlockRows)
        m_freshRows.clear();
    m_freshRows.insert(id, row);

    beginInsertRows(QModelIndex(), 0, 0);
    m_freshIds.append(id);
    endInsertRows();
    foldFreshRows();
}

void RecordTableModel::foldFreshRows()
{
    // Newest first, the rows stored since the load stand where the ordered
    // part would show them anyway, and their ids run on from it: after a
    // while they join it, so that a week of samples does not keep an id
    // each. The rows keep their places; only the cached blocks, counted
    // from the top, are read again.
    constexpr int FoldRows = 1024;
    const int fresh = m_freshIds.size();
    if (fresh < FoldRows || m_sortColumn >= 0)
        return;
    // A filtered view pages by offsets over an exact count anyway: its rows
    // join as they are. Otherwise their ids must run on without a gap.
    const bool follows = m_filterColumn >= 0 ? m_countExact
                                             : m_contiguous && m_freshIds.first() == m_orderedMaxId + 1
                                                   && m_freshIds.last() == m_orderedMaxId + fresh;
    if (!follows)
        return;
    m_orderedMaxId = m_freshIds.last();
    m_orderedCount += fresh;
    m_freshIds.clear();
    forgetRows();
}

void RecordTableModel::forgetStatements()
{
    m_insert = QSqlQuery();
    m_insertPrepared = false;
}

void RecordTableModel::clearTable()
{
    forgetStatements();
    QSqlDatabase db = database();
    bool dropped;
    {
        QSqlQuery drop(db);
        dropped = drop.exec(QStringLiteral("drop table %1;").arg(m_def.table));
        if (!dropped)
            qDebug("drop error!");
        QSqlQuery create(db);
        create.exec(m_def.createStatement);
        if (m_def.companions)
            m_def.companions(db);
    }
    if (!dropped) {
        // Another program holding the database refuses the drop: the rows
        // are all still there, so the view shows them as they are rather
        // than an empty table whose counts later sorts would build on.
        reload();
        return;
    }
    beginResetModel();
    resetToNewestFirst();
    m_countExact = true; // empty
    endResetModel();
}

qint64 RecordTableModel::idAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    if (row < m_freshIds.size())
        return m_freshIds.at(m_freshIds.size() - 1 - row);
    const Row *values = rowAt(row);
    return values ? values->at(0).toLongLong() : -1;
}

RecordViewSnapshot RecordTableModel::snapshot() const
{
    RecordViewSnapshot s;
    s.definition = &m_def;
    s.databaseName = database().databaseName();
    s.language = language();
    s.sortColumn = m_sortColumn;
    s.sortLanguage = m_sortLanguage;
    s.sortOrder = m_sortOrder;
    if (m_filterColumn >= 0) {
        s.filterColumn = m_def.columns.at(m_filterColumn).name;
        s.filterValue = m_filterValue;
    }
    s.orderedMaxId = m_orderedMaxId;
    s.freshIds = m_freshIds;
    s.rowCount = rowCount();
    return s;
}

void RecordTableModel::readRows(QSqlQuery &query, QVector<Row> &into) const
{
    const int width = m_def.columnCount() + 1;
    while (query.next()) {
        Row row(width);
        for (int i = 0; i < width; ++i)
            row[i] = query.value(i);
        into.append(row);
    }
}

const RecordTableModel::Row *RecordTableModel::rowAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    const int fresh = m_freshIds.size();
    if (row < fresh) {
        const qint64 id = m_freshIds.at(fresh - 1 - row);
        auto it = m_freshRows.constFind(id);
        if (it != m_freshRows.constEnd())
            return it->isEmpty() ? nullptr : &it.value();
        if (m_freshRows.size() >= 4 * BlockRows)
            m_freshRows.clear();
        QSqlQuery query(database());
        query.setForwardOnly(true);
        query.prepare(m_orderedSelect + QStringLiteral(" where id=?"));
        query.addBindValue(id);
        QVector<Row> rows;
        if (query.exec())
            readRows(query, rows);
        else
            selectError();
        const Row &stored = m_freshRows.insert(id, rows.isEmpty() ? Row() : rows.first()).value();
        return stored.isEmpty() ? nullptr : &stored;
    }
    const qint64 position = row - fresh;
    const Block &block = orderedBlock(int(position / BlockRows));
    const int i = int(position % BlockRows);
    if (i >= block.rows.size() || block.rows.at(i).isEmpty())
        return nullptr;
    return &block.rows.at(i);
}

const RecordTableModel::Block &RecordTableModel::orderedBlock(int index) const
{
    constexpr int MaxBlocks = 32;
    auto it = m_blocks.find(index);
    if (it == m_blocks.end()) {
        if (m_blocks.size() >= MaxBlocks) {
            auto oldest = m_blocks.begin();
            for (auto b = m_blocks.begin(); b != m_blocks.end(); ++b) {
                if (b->lastUse < oldest->lastUse)
                    oldest = b;
            }
            m_blocks.erase(oldest);
        }
        it = m_blocks.insert(index, Block());
        fetchOrderedBlock(index, it.value());
    }
    it->lastUse = ++m_useClock;
    return it.value();
}

void RecordTableModel::fetchOrderedBlock(int index, Block &into) const
{
    const qint64 first = qint64(index) * BlockRows;
    const int n = int(qMin<qint64>(BlockRows, m_orderedCount - first));
    if (n <= 0)
        return;
    QSqlQuery query(database());
    query.setForwardOnly(true);

    if (m_sortColumn < 0 && m_contiguous) {
        // Newest first over ids without gaps: the ids follow from the
        // positions, one key range lookup whatever the depth.
        const qint64 high = m_orderedMaxId - first;
        const qint64 low = high - n + 1;
        query.prepare(m_orderedSelect + QStringLiteral(" where id between ? and ? order by id desc"));
        query.addBindValue(low);
        query.addBindValue(high);
        if (!query.exec()) {
            selectError();
            return;
        }
        readRows(query, into.rows);
        bool whole = into.rows.size() == n;
        for (int i = 0; whole && i < n; ++i)
            whole = into.rows.at(i).at(0).toLongLong() == high - i;
        if (!whole) {
            into.rows.clear();
            const_cast<RecordTableModel *>(this)->recoverFromGaps();
        }
        return;
    }

    // An offset counts through the index from the nearer end of the order.
    const bool fromEnd = first + n / 2 > m_orderedCount / 2;
    const qint64 offset = fromEnd ? m_orderedCount - first - n : first;
    query.prepare(m_orderedSelect + QStringLiteral(" where ") + filterAnd() + QStringLiteral("+id<=?")
                  + orderClause(m_def, m_sortColumn, m_sortLanguage, m_sortOrder, fromEnd, m_filterColumn >= 0)
                  + QStringLiteral(" limit ? offset ?"));
    bindFilter(query);
    query.addBindValue(m_orderedMaxId);
    query.addBindValue(n);
    query.addBindValue(offset);
    if (!query.exec()) {
        selectError();
        return;
    }
    readRows(query, into.rows);
    if (fromEnd)
        std::reverse(into.rows.begin(), into.rows.end());
}

void RecordTableModel::recoverFromGaps()
{
    // Rows were removed behind the tool's back: count them and page by
    // offsets from now on. The model is reset outside of the view's paint.
    if (m_recoveryPending)
        return;
    m_recoveryPending = true;
    QTimer::singleShot(0, this, [this] {
        m_recoveryPending = false;
        beginResetModel();
        forgetRows();
        m_contiguous = false;
        countRowsExactly();
        m_countExact = true;
        endResetModel();
    });
}
