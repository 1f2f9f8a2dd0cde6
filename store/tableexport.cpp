#include "store/tableexport.h"

#include "store/recordtablemodel.h"

#include <QAbstractItemModel>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

namespace TableExport {

namespace {

constexpr int FlushBytes = 1 << 20;
constexpr qint64 ProgressRows = 2048;
constexpr qint64 MapBytes = qint64(256) << 20;

// Collects the text and writes it in large pieces.
class Writer
{
public:
    explicit Writer(const QString &fileName) : m_file(fileName)
    {
        m_buffer.reserve(FlushBytes + 4096);
        m_line.reserve(1024);
    }

    bool open() { return m_file.open(QIODevice::WriteOnly); }

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
    bool commit() { return flush() && m_file.commit(); }
    void discard() { m_file.cancelWriting(); }

private:
    bool flush()
    {
        const bool ok = m_file.write(m_buffer) == m_buffer.size();
        m_buffer.resize(0);
        return ok;
    }

    QSaveFile m_file;
    QByteArray m_buffer;
    QString m_line;
};

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
        return Result::Failed;
    Writer writer(fileName);
    if (!writer.open())
        return Result::Failed;
    writeHeader(writer, headers, headerCount);

    const RecordTable::Definition &def = *view.definition;
    const int columns = def.columnCount();
    qint64 done = 0;
    bool writeFailed = false;
    bool stopped = false;
    bool walked;
    {
        PrivateConnection connection(view.databaseName);
        if (!connection.isOpen()) {
            writer.discard();
            return Result::Failed;
        }
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
    }
    if (stopped || cancelled(cancel)) {
        writer.discard();
        return Result::Cancelled;
    }
    if (!walked || writeFailed || !writer.commit()) {
        writer.discard();
        return Result::Failed;
    }
    if (progress)
        progress(done, view.rowCount);
    return Result::Written;
}

Result exportIdRange(const RecordTable::Definition &definition, const QString &databaseName, qint64 firstId,
                     qint64 lastId, const QStringList &headers, int headerCount, int language,
                     const QString &fileName)
{
    Writer writer(fileName);
    if (!writer.open())
        return Result::Failed;
    writeHeader(writer, headers, headerCount);
    const int columns = definition.columnCount();
    bool ok;
    {
        PrivateConnection connection(databaseName);
        QSqlQuery query(connection.database());
        query.setForwardOnly(true);
        ok = connection.isOpen()
             && query.prepare(definition.selectList() + QStringLiteral(" where id between ? and ? order by id desc"));
        if (ok) {
            query.addBindValue(firstId);
            query.addBindValue(lastId);
            ok = query.exec();
        }
        while (ok && query.next()) {
            for (int c = 0; c < columns; ++c)
                writer.field(definition.columns.at(c).rule, query.value(c + 1), language);
            ok = writer.endLine();
        }
    }
    if (!ok || !writer.commit()) {
        writer.discard();
        return Result::Failed;
    }
    return Result::Written;
}

Result exportModel(const QAbstractItemModel &model, const QStringList &headers, int headerCount,
                   const QString &fileName)
{
    Writer writer(fileName);
    if (!writer.open())
        return Result::Failed;
    writeHeader(writer, headers, headerCount);
    const int rows = model.rowCount();
    const int columns = model.columnCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            writer.field(model.index(r, c).data(Qt::DisplayRole).toString());
        if (!writer.endLine()) {
            writer.discard();
            return Result::Failed;
        }
    }
    if (!writer.commit()) {
        writer.discard();
        return Result::Failed;
    }
    return Result::Written;
}

} // namespace TableExport
