#include "app/commlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QPlainTextEdit>
#include <QTemporaryFile>
#include <algorithm>

namespace {

// A line in the store: a header holding (length << 3) | tag in 7-bit groups,
// low group first, the top bit of a byte saying that another follows; then
// the milliseconds since the line before, zigzag-coded (a clock set back
// gives a negative step) in the same 7-bit groups; then the frame bytes. The
// tag is direction | language << 1, or NoteTag for a note of the tool's
// own, whose bytes are its UTF-8 text. An 8-byte request takes a one-byte
// header, an 83-byte monitoring answer a two-byte one; a step of up to 8 s
// takes two bytes.
void appendVarint(QByteArray &store, quint64 value)
{
    while (value >= 0x80) {
        store.append(char(0x80 | (value & 0x7F)));
        value >>= 7;
    }
    store.append(char(value));
}

quint64 readVarint(const char *data, int &pos)
{
    quint64 value = 0;
    int shift = 0;
    quint8 b;
    do {
        b = quint8(data[pos++]);
        value |= quint64(b & 0x7F) << shift;
        shift += 7;
    } while (b & 0x80);
    return value;
}

constexpr quint8 NoteTag = 4;

void appendLine(QByteArray &store, quint8 tag, qint64 stepMs, const QByteArray &bytes)
{
    appendVarint(store, (quint64(bytes.size()) << 3) | tag);
    appendVarint(store, (quint64(stepMs) << 1) ^ quint64(stepMs >> 63));
    store.append(bytes);
}

struct StoredLine
{
    quint8 tag;
    const char *bytes;
    int size;
    qint64 stepMs;
};

// Reads the line at `pos` and moves `pos` past it.
StoredLine readLine(const char *data, int &pos)
{
    const quint64 header = readVarint(data, pos);
    const quint64 zigzag = readVarint(data, pos);
    StoredLine line{quint8(header & 7), nullptr, int(header >> 3), qint64(zigzag >> 1) ^ -qint64(zigzag & 1)};
    line.bytes = data + pos;
    pos += line.size;
    return line;
}

// "hh:mm:ss.zzz " in local time. Lines come many a second: the local time of
// the second is worked out once for all of them.
class TimeText
{
public:
    void append(QByteArray &out, qint64 ms)
    {
        const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
        if (second != m_second || m_text.isEmpty()) {
            m_second = second;
            m_text = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("hh:mm:ss.")).toLatin1();
        }
        const int milli = int(ms - second * 1000);
        out.append(m_text);
        out.append(char('0' + milli / 100));
        out.append(char('0' + milli / 10 % 10));
        out.append(char('0' + milli % 10));
        out.append(' ');
    }

private:
    qint64 m_second = 0;
    QByteArray m_text;
};

// The time text of the lines as they come: the local time is worked out
// once a second, not for every line (GUI thread only).
TimeText &viewTime()
{
    static TimeText time;
    return time;
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

// False when the widget or one of its parents in the window is hidden (a tab
// that is not the current one); a window not yet shown does not count.
bool shownInItsWindow(const QWidget *widget)
{
    for (; widget && !widget->isWindow(); widget = widget->parentWidget()) {
        if (widget->isHidden())
            return false;
    }
    return true;
}

} // namespace

CommLog::CommLog(QPlainTextEdit *view) : m_view(view), m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    if (m_view) {
        // Without this the document would keep every appended line a second
        // time in its undo history.
        m_view->setUndoRedoEnabled(false);
        m_view->setReadOnly(true);
    }
}

CommLog::~CommLog() = default;
CommLog::CommLog(CommLog &&other) noexcept = default;
CommLog &CommLog::operator=(CommLog &&other) noexcept = default;

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
    appendLineText(text, StoredLine{quint8((direction & 1) | (language << 1)), bytes.constData(), bytes.size(), 0});
    return QString::fromUtf8(text);
}

void CommLog::logFrame(Direction direction, const QByteArray &bytes, int language)
{
    if (language != 0 && language != 1)
        return;
    appendStored(quint8((direction & 1) | (language << 1)), bytes);
}

void CommLog::logNote(const QString &text)
{
    appendStored(NoteTag, text.toUtf8());
}

void CommLog::appendStored(quint8 tag, const QByteArray &bytes)
{
    const qint64 now = m_clock();
    if (m_open.isEmpty())
        m_openStartMs = m_lastMs;
    appendLine(m_open, tag, now - m_lastMs, bytes);
    m_lastMs = now;
    ++m_lineCount;
    if (m_lineCount % BlockLines == 0)
        sealOpenBlock();
    if (m_view && !shownInItsWindow(m_view)) {
        // Its tab is not the current one: the view is written when it is
        // shown again (viewShown), not laid out line by line meanwhile,
        // which with many packs on the line is dozens of lines a second.
        m_viewStale = true;
    } else if (m_view) {
        QByteArray text;
        if (m_showTime)
            viewTime().append(text, now);
        appendLineText(text, StoredLine{tag, bytes.constData(), bytes.size(), 0});
        m_view->appendPlainText(QString::fromUtf8(text));
        if (m_view->blockCount() > ViewLines)
            trimView();
        moveCursorToEnd();
    }
}

void CommLog::sealOpenBlock()
{
    Block block;
    block.startMs = m_openStartMs;
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
    spill(block);
    m_blocks.push_back(std::move(block));
    m_open.clear();
}

void CommLog::spill(Block &block)
{
    if (m_spillFailed)
        return;
    if (!m_spill) {
        // Qt names no folder when TMPDIR names one that does not exist.
        const QString folder = QDir::tempPath();
        m_spill = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/packscope-log-XXXXXX"));
        if (folder.isEmpty() || !m_spill->open()) {
            qWarning("communication log: no spill file (%s); keeping the log in memory",
                     qPrintable(folder.isEmpty() ? QStringLiteral("the temporary folder is missing")
                                                 : m_spill->errorString()));
            m_spill.reset();
            m_spillFailed = true;
            return;
        }
    }
    const qint64 at = m_spill->size();
    if (!m_spill->seek(at) || m_spill->write(block.data) != block.data.size() || !m_spill->flush()) {
        // A full disk: this block and the ones after it stay in memory; the
        // blocks already in the file are read from it as before.
        qWarning("communication log: cannot write the spill file (%s); keeping the log in memory",
                 qPrintable(m_spill->errorString()));
        m_spillFailed = true;
        return;
    }
    block.offset = at;
    block.size = block.data.size();
    block.data = QByteArray();
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
    QByteArray data = block.data;
    if (block.offset >= 0) {
        data.resize(block.size);
        if (!m_spill->seek(block.offset) || m_spill->read(data.data(), block.size) != block.size) {
            m_readError = m_spill->errorString();
            return QByteArray();
        }
    }
    return block.packed ? qUncompress(data) : data;
}

template <typename Take>
void CommLog::forEachLine(qint64 first, Take take) const
{
    if (first < 0)
        first = 0;
    TimeText time;
    QByteArray text;
    const size_t blockCount = m_blocks.size();
    for (size_t b = size_t(first / BlockLines); b <= blockCount; ++b) {
        const QByteArray data = b < blockCount ? blockBytes(m_blocks[b]) : m_open;
        qint64 ms = b < blockCount ? m_blocks[b].startMs : m_openStartMs;
        qint64 index = qint64(b) * BlockLines;
        int pos = 0;
        while (pos < data.size()) {
            const StoredLine line = readLine(data.constData(), pos);
            ms += line.stepMs;
            if (index++ < first)
                continue;
            text.resize(0);
            if (m_showTime)
                time.append(text, ms);
            appendLineText(text, line);
            if (!take(text, ms))
                return;
        }
    }
}

QString CommLog::line(qint64 index) const
{
    QString result;
    if (index >= 0 && index < m_lineCount)
        forEachLine(index, [&](const QByteArray &text, qint64) {
            result = QString::fromUtf8(text);
            return false;
        });
    return result;
}

void CommLog::setShowTime(bool show)
{
    if (show == m_showTime)
        return;
    m_showTime = show;
    refillView();
}

void CommLog::viewShown()
{
    if (!m_viewStale)
        return;
    m_viewStale = false;
    refillView(ViewLines);
}

// Writes the newest `lines` lines into the view again, in the current way
// (by default as many as it holds).
void CommLog::refillView(int lines)
{
    if (!m_view || m_lineCount == 0)
        return;
    const qint64 shown = std::min<qint64>(m_lineCount, lines > 0 ? lines : m_view->document()->blockCount());
    QByteArray all;
    bool first = true;
    forEachLine(m_lineCount - shown, [&](const QByteArray &text, qint64) {
        if (!first)
            all.append('\n');
        first = false;
        all.append(text);
        return true;
    });
    m_view->setPlainText(QString::fromUtf8(all));
    moveCursorToEnd();
}

Result CommLog::appendTo(const QString &fileName) const
{
    // The old content and the new lines go to a temporary file beside the
    // target, which replaces it only once complete: a full disk or a fault
    // halfway leaves the old file whole instead of cut off mid-line.
    QSaveFile file(fileName);
    Result result = SafeSave::open(file);
    if (!result.ok())
        return result;

    // The text goes out through one buffer, flushed once it holds a
    // megabyte; neither the old file nor the whole log is held at once.
    constexpr int FlushAt = 1 << 20;
    QByteArray out;
    out.reserve(FlushAt + 4096);

    QFile old(fileName);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly))
            return Result::failure(old.errorString());
        while (result.ok() && !old.atEnd()) {
            out.resize(FlushAt);
            const qint64 n = old.read(out.data(), FlushAt);
            if (n < 0)
                return Result::failure(old.errorString());
            result = SafeSave::write(file, out.constData(), n);
        }
        out.resize(0);
        if (!result.ok())
            return result;
    }

    bool first = true;
    m_readError.clear();
    forEachLine(0, [&](const QByteArray &text, qint64) {
        if (!first)
            out.append('\n');
        first = false;
        out.append(text);
        if (out.size() >= FlushAt) {
            result = SafeSave::write(file, out);
            out.resize(0);
        }
        return result.ok();
    });
    if (!result.ok())
        return result;
    if (!m_readError.isEmpty())
        return Result::failure(QStringLiteral("the log's older lines cannot be read back: %1").arg(m_readError));
    out.append("\r\n");
    result = SafeSave::write(file, out);
    if (!result.ok())
        return result;
    return SafeSave::commit(file);
}

void CommLog::clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_spill.reset();
    m_spillFailed = false;
    m_open.clear();
    m_lineCount = 0;
    m_lastMs = 0;
    if (m_view)
        m_view->clear();
}

void CommLog::moveCursorToEnd()
{
    if (m_view)
        m_view->moveCursor(QTextCursor::End);
}

qint64 CommLog::spilledBytes() const
{
    qint64 total = 0;
    for (const Block &block : m_blocks)
        total += block.offset >= 0 ? block.size : 0;
    return total;
}

qint64 CommLog::storeBytes() const
{
    qint64 total = m_open.capacity();
    for (const Block &block : m_blocks)
        total += block.data.capacity() + qint64(sizeof(Block));
    return total;
}
