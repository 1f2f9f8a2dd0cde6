#include "store/tableexport.h"

#include "store/recordtablemodel.h"

#include <QAbstractItemModel>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <functional>

namespace TableExport {

namespace {

constexpr int FlushBytes = 1 << 20;
constexpr qint64 ProgressRows = 2048;
constexpr qint64 MapBytes = qint64(256) << 20;

// Collects the text and writes it in large pieces to a temporary file
// beside the target, which takes the target's place only when complete.
// The first failure is kept: every later step does nothing.
class Writer
{
public:
    explicit Writer(const QString &fileName) : m_file(fileName)
    {
        m_buffer.reserve(FlushBytes + 4096);
        m_line.reserve(1024);
    }

    bool open()
    {
        m_result = SafeSave::open(m_file);
        return m_result.ok();
    }

    void field(const QString &text)
    {
        m_line += text;
        m_line += QLatin1Char('\t');
    }
    void field(RecordTable::Rule rule, const QVariant &stored, int language)
    {
        RecordTable::appendDisplayText(m_line, rule, stored, language);
        m_line += QLatin1Char('\t');
    }
    bool endLine()
    {
        m_line += QLatin1String("\r\n");
        m_buffer += m_line.toUtf8();
        m_line.resize(0);
        return m_buffer.size() < FlushBytes || flush();
    }
    Result commit()
    {
        if (flush())
            m_result = SafeSave::commit(m_file);
        return m_result;
    }
    // Gives up for `reason`; nothing replaces the target.
    Result fail(const Result &reason)
    {
        m_file.cancelWriting();
        if (m_result.ok())
            m_result = reason;
        return m_result;
    }
    const Result &result() const { return m_result; }

private:
    bool flush()
    {
        if (m_result.ok())
            m_result = SafeSave::write(m_file, m_buffer);
        m_buffer.resize(0);
        return m_result.ok();
    }

    QSaveFile m_file;
    QByteArray m_buffer;
    QString m_line;
    Result m_result;
};

// The database's reason, or a plain one when it gives none.
Result readFailure(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return Result::failure(text.isEmpty() ? QStringLiteral("the database could not be read") : text);
}

void writeHeader(Writer &writer, const QStringList &headers, int headerCount)
{
    for (int i = 0; i < headerCount && i < headers.size(); ++i)
        writer.field(headers.at(i));
    writer.endLine();
}

bool cancelled(const std::atomic_bool *cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

// A read connection of the calling thread, removed again on destruction.
class PrivateConnection
{
public:
    explicit PrivateConnection(const QString &databaseName)
    {
        static std::atomic_int serial{0};
        m_name = QStringLiteral("export-%1").arg(++serial);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(databaseName);
        m_open = db.open();
        if (m_open) {
            // A sorted walk visits the table's pages in the order of an
            // index, not of the file: mapping the file spares a read call
            // per row.
            QSqlQuery(db).exec(QStringLiteral("pragma mmap_size=%1").arg(MapBytes));
        }
    }
    ~PrivateConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool isOpen() const { return m_open; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_open = false;
};

} // namespace

Result exportRows(const RecordViewSnapshot &view, const QStringList &headers, int headerCount,
                  const QString &fileName, const Progress &progress, const std::atomic_bool *cancel)
{
    if (!view.definition)
        return Result::failure(QStringLiteral("no table to export"));
    Writer writer(fileName);
    if (!writer.open())
        return writer.result();
    writeHeader(writer, headers, headerCount);

    const RecordTable::Definition &def = *view.definition;
    const int columns = def.columnCount();
    qint64 done = 0;
    bool writeFailed = false;
    bool stopped = false;
    bool walked;
    QSqlError readError;
    {
        PrivateConnection connection(view.databaseName);
        if (!connection.isOpen())
            return writer.fail(readFailure(connection.database().lastError()));
        walked = view.forEachRow(connection.database(), [&](const QVector<QVariant> &values) {
            if (cancelled(cancel)) {
                stopped = true;
                return false;
            }
            for (int c = 0; c < columns; ++c)
                writer.field(def.columns.at(c).rule, values.at(c + 1), view.language);
            if (!writer.endLine()) {
                writeFailed = true;
                return false;
            }
            if (++done % ProgressRows == 0 && progress)
                progress(done, view.rowCount);
            return true;
        });
        if (!walked)
            readError = connection.database().lastError();
    }
    if (stopped || cancelled(cancel))
        return writer.fail(Result::cancelled());
    if (writeFailed)
        return writer.fail(writer.result());
    if (!walked)
        return writer.fail(readFailure(readError));
    const Result written = writer.commit();
    if (written.ok() && progress)
        progress(done, view.rowCount);
    return written;
}

Result exportIds(const RecordTable::Definition &definition, const QString &databaseName, std::vector<qint64> ids,
                 const QStringList &headers, int headerCount, int language, const QString &fileName)
{
    Writer writer(fileName);
    if (!writer.open())
        return writer.result();
    writeHeader(writer, headers, headerCount);
    if (ids.empty())
        return writer.commit();

    // Newest first, each row once.
    std::sort(ids.begin(), ids.end(), std::greater<qint64>());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QString list;
    for (const qint64 id : ids) {
        if (!list.isEmpty())
            list += QLatin1Char(',');
        list += QString::number(id);
    }
    const int columns = definition.columnCount();
    size_t written = 0;
    {
        PrivateConnection connection(databaseName);
        if (!connection.isOpen())
            return writer.fail(readFailure(connection.database().lastError()));
        QSqlQuery query(connection.database());
        query.setForwardOnly(true);
        if (!query.exec(definition.selectList() + QStringLiteral(" where id in (%1) order by id desc").arg(list)))
            return writer.fail(readFailure(query.lastError()));
        while (query.next()) {
            for (int c = 0; c < columns; ++c)
                writer.field(definition.columns.at(c).rule, query.value(c + 1), language);
            if (!writer.endLine())
                return writer.fail(writer.result());
            ++written;
        }
        if (query.lastError().isValid())
            return writer.fail(readFailure(query.lastError()));
    }
    if (written != ids.size())
        return writer.fail(Result::failure(QStringLiteral("%1 of the %2 rows are no longer in the database")
                                               .arg(ids.size() - written)
                                               .arg(ids.size())));
    return writer.commit();
}

Result exportModel(const QAbstractItemModel &model, const QStringList &headers, int headerCount,
                   const QString &fileName)
{
    Writer writer(fileName);
    if (!writer.open())
        return writer.result();
    writeHeader(writer, headers, headerCount);
    const int rows = model.rowCount();
    const int columns = model.columnCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            writer.field(model.index(r, c).data(Qt::DisplayRole).toString());
        if (!writer.endLine())
            return writer.fail(writer.result());
    }
    return writer.commit();
}

} // namespace TableExport
