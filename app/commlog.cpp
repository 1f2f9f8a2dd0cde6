#include "app/commlog.h"

#include <QFile>
#include <QPlainTextEdit>

namespace {

// A line in the store: a header holding (length << 3) | tag in 7-bit groups,
// low group first, the top bit of a byte saying that another follows; then
// the frame bytes. The tag is direction | language << 1, or NoteTag for a
// note of the tool's own, whose bytes are its UTF-8 text. An 8-byte request
// takes a one-byte header, an 83-byte monitoring answer a two-byte one.
constexpr quint8 NoteTag = 4;

void appendLine(QByteArray &store, quint8 tag, const QByteArray &bytes)
{
    quint64 header = (quint64(bytes.size()) << 3) | tag;
    while (header >= 0x80) {
        store.append(char(0x80 | (header & 0x7F)));
        header >>= 7;
    }
    store.append(char(header));
    store.append(bytes);
}

struct StoredLine
{
    quint8 tag;
    const char *bytes;
    int size;
};

// Reads the line at `pos` and moves `pos` past it.
StoredLine readLine(const char *data, int &pos)
{
    quint64 header = 0;
    int shift = 0;
    quint8 b;
    do {
        b = quint8(data[pos++]);
        header |= quint64(b & 0x7F) << shift;
        shift += 7;
    } while (b & 0x80);
    StoredLine line{quint8(header & 7), data + pos, int(header >> 3)};
    pos += line.size;
    return line;
}

// Prefixes in UTF-8 by tag (direction | language << 1).
const QByteArray &prefixUtf8(quint8 tag)
{
    static const QByteArray prefixes[4] = {
        CommLog::prefix(CommLog::Sent, 0).toUtf8(),
        CommLog::prefix(CommLog::Received, 0).toUtf8(),
        CommLog::prefix(CommLog::Sent, 1).toUtf8(),
        CommLog::prefix(CommLog::Received, 1).toUtf8(),
    };
    return prefixes[tag & 3];
}

void appendLineText(QByteArray &out, const StoredLine &line)
{
    static const char digits[] = "0123456789ABCDEF";
    if (line.tag == NoteTag) {
        out.append("\xE2\x80\xBB "); // the reference mark sets notes apart from frames
        out.append(line.bytes, line.size);
        return;
    }
    out.append(prefixUtf8(line.tag));
    for (int i = 0; i < line.size; ++i) {
        if (i > 0)
            out.append(' ');
        const quint8 b = quint8(line.bytes[i]);
        out.append(digits[b >> 4]);
        out.append(digits[b & 0x0F]);
    }
}

} // namespace

CommLog::CommLog(QPlainTextEdit *view) : m_view(view)
{
    if (m_view) {
        // Without this the document would keep every appended line a second
        // time in its undo history.
        m_view->setUndoRedoEnabled(false);
        m_view->setReadOnly(true);
    }
}

QString CommLog::prefix(Direction direction, int language)
{
    if (language == 0)
        return direction == Sent ? QStringLiteral("发→◇") : QStringLiteral("收←◆");
    if (language == 1)
        return direction == Sent ? QStringLiteral("OUT→◇") : QStringLiteral("IN←◆");
    return QString();
}

QString CommLog::formatLine(Direction direction, const QByteArray &bytes, int language)
{
    if (language != 0 && language != 1)
        return QString();
    // The view and the saved file share one way of writing a line.
    QByteArray text;
    appendLineText(text, StoredLine{quint8((direction & 1) | (language << 1)), bytes.constData(), bytes.size()});
    return QString::fromUtf8(text);
}

void CommLog::logFrame(Direction direction, const QByteArray &bytes, int language)
{
    if (language != 0 && language != 1)
        return;
    appendLine(m_open, quint8((direction & 1) | (language << 1)), bytes);
    ++m_lineCount;
    if (m_lineCount % BlockLines == 0)
        sealOpenBlock();
    if (m_view) {
        m_view->appendPlainText(formatLine(direction, bytes, language));
        if (m_view->blockCount() > ViewLines)
            trimView();
        moveCursorToEnd();
    }
}

void CommLog::logNote(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    appendLine(m_open, NoteTag, utf8);
    ++m_lineCount;
    if (m_lineCount % BlockLines == 0)
        sealOpenBlock();
    if (m_view) {
        QByteArray line;
        appendLineText(line, StoredLine{NoteTag, utf8.constData(), utf8.size()});
        m_view->appendPlainText(QString::fromUtf8(line));
        if (m_view->blockCount() > ViewLines)
            trimView();
        moveCursorToEnd();
    }
}

void CommLog::sealOpenBlock()
{
    Block block;
    // Level 1 already packs a monitoring log several times over; higher
    // levels cost more time for little gain.
    QByteArray packed = qCompress(m_open, 1);
    if (packed.size() < m_open.size()) {
        packed.squeeze(); // qCompress leaves room for the worst case
        block.data = std::move(packed);
        block.packed = true;
    } else {
        block.data = m_open;
        block.data.squeeze();
    }
    m_blocks.push_back(std::move(block));
    m_open.clear();
}

// Drops the oldest lines of the view, ViewTrim of them in one edit. The view's
// own maximum block count would drop one line per line appended, and each
// time it lays out and shapes the new first line, which is off screen: that
// alone makes a line cost up to half as much again once the view is full.
void CommLog::trimView()
{
    QTextDocument *doc = m_view->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                        doc->blockCount() - (ViewLines - ViewTrim));
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

QByteArray CommLog::blockBytes(const Block &block) const
{
    return block.packed ? qUncompress(block.data) : block.data;
}

QString CommLog::line(qint64 index) const
{
    if (index < 0 || index >= m_lineCount)
        return QString();
    const size_t blockIndex = size_t(index / BlockLines);
    const QByteArray data = blockIndex < m_blocks.size() ? blockBytes(m_blocks[blockIndex]) : m_open;
    int pos = 0;
    StoredLine line{};
    for (int i = int(index % BlockLines); i >= 0; --i)
        line = readLine(data.constData(), pos);
    QByteArray text;
    appendLineText(text, line);
    return QString::fromUtf8(text);
}

bool CommLog::appendTo(const QString &fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;

    // The text goes out block by block through one buffer; the whole log is
    // never held as text.
    constexpr int FlushAt = 1 << 20;
    QByteArray out;
    out.reserve(FlushAt + 4096);
    bool ok = true;
    bool first = true;
    auto writeLines = [&](const QByteArray &data) {
        int pos = 0;
        while (ok && pos < data.size()) {
            if (!first)
                out.append('\n');
            first = false;
            appendLineText(out, readLine(data.constData(), pos));
            if (out.size() >= FlushAt) {
                ok = file.write(out) == out.size();
                out.resize(0);
            }
        }
    };
    for (const Block &block : m_blocks)
        writeLines(blockBytes(block));
    writeLines(m_open);
    out.append("\r\n");
    if (ok)
        ok = file.write(out) == out.size();
    ok = file.flush() && ok;
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

void CommLog::clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_open.clear();
    m_lineCount = 0;
    if (m_view)
        m_view->clear();
}

void CommLog::moveCursorToEnd()
{
    if (m_view)
        m_view->moveCursor(QTextCursor::End);
}

qint64 CommLog::storeBytes() const
{
    qint64 total = m_open.capacity();
    for (const Block &block : m_blocks)
        total += block.data.capacity() + qint64(sizeof(Block));
    return total;
}
