#pragma once

#include "model/result.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <vector>

class QPlainTextEdit;
class QTemporaryFile;

// The communication log: one line per frame sent or answer taken.
//
// A technician may leave the tool polling for days, some 170,000 lines a day
// for one pack and sixteen times as many for sixteen. Every line is kept, but
// not as text: the frame bytes go into a store of their own, in blocks of
// BlockLines lines, each line a one- or two-byte header (direction,
// language, length), the time since the line before in milliseconds (one or
// two bytes while polling), then its raw bytes. A full block is packed with
// zlib and goes to a temporary file (memory keeps only where it is), so the
// tool's memory stays flat however long the log; a day of sixteen packs
// costs the file some hundred megabytes. Where that file cannot be written
// (no space, no temporary folder) the blocks stay in memory instead.
// The view shows only the newest lines, at most ViewLines of them, so neither
// its memory nor its relayout grows with the log. Save and Clear act on the
// whole log.
//
// Every line keeps the time it was logged. With the time shown, the view and
// the saved file start each line with the local time to the millisecond,
// "hh:mm:ss.zzz" and a blank; by default it is not shown.
class CommLog
{
public:
    enum Direction : quint8 { Sent = 0, Received = 1 };
    // Most lines the view holds; when a line would be one too many, the
    // oldest ViewTrim lines leave it at once. A line on screen costs about
    // half a kilobyte; at the 1 s poll (two lines a second) the view is full
    // within ten minutes, after which the tool's memory stays flat for a
    // week-long soak. Save writes the whole log, not only what is shown.
    static constexpr int ViewLines = 1000;
    static constexpr int ViewTrim = 100;
    static constexpr int BlockLines = 1024;

    explicit CommLog(QPlainTextEdit *view);
    ~CommLog();
    CommLog(CommLog &&other) noexcept;
    CommLog &operator=(CommLog &&other) noexcept;

    // Appends a line in `language` (0 Chinese, 1 English; other values log
    // nothing), then moves the view's cursor to the end so that the newest
    // line is in view.
    void logFrame(Direction direction, const QByteArray &bytes, int language);

    // Appends a line of the tool's own (a port lost, a database fault),
    // marked apart from the frames: "※ " and the text.
    void logNote(const QString &text);

    qint64 lineCount() const { return m_lineCount; }
    // Line `index` (0 = oldest) as text, as the view shows it; empty when out
    // of range.
    QString line(qint64 index) const;

    // Shows the time at the start of each line or not, in the saved file and
    // in the view; the lines already in the view are written again.
    void setShowTime(bool show);
    bool showTime() const { return m_showTime; }
    // The clock giving the time of a line (milliseconds since 1970, UTC);
    // tests put a clock of their own here.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // All lines separated by a line feed, followed by CR LF, appended to the
    // file (created when missing). UTF-8, so the Chinese prefixes survive
    // whatever the locale. The old content and the new lines are written to
    // a temporary file beside it that then takes its place: a failure (the
    // folder missing, the disk full) carries its reason and leaves the file
    // as it was.
    Result appendTo(const QString &fileName) const;
    void clear();
    // Puts the view's cursor at the end of the log (no selection).
    void moveCursorToEnd();
    // The view's tab became the current one: lines logged while it was
    // not shown are written into it now (the newest ViewLines of them).
    void viewShown();

    // Bytes held in memory by the line store (not counting the view), and
    // bytes of it in the spill file.
    qint64 storeBytes() const;
    qint64 spilledBytes() const;

    static QString prefix(Direction direction, int language);
    // The text of a line; empty for a language other than 0 and 1.
    static QString formatLine(Direction direction, const QByteArray &bytes, int language);

private:
    // BlockLines lines, zlib-packed when that is smaller.
    struct Block
    {
        QByteArray data;    // empty once in the spill file
        qint64 offset = -1; // where in the spill file, or -1
        int size = 0;       // bytes there
        qint64 startMs = 0; // the time the first line's delta counts from
        bool packed = false;
    };

    void appendStored(quint8 tag, const QByteArray &bytes);
    void sealOpenBlock();
    // Moves a sealed block's bytes to the spill file, where one can be
    // written; otherwise they stay in the block.
    void spill(Block &block);
    void trimView();
    QByteArray blockBytes(const Block &block) const;
    // Calls `take` with the text of each line from `first` on, oldest first,
    // without a separator; `take` returns false to stop.
    template <typename Take>
    void forEachLine(qint64 first, Take take) const;
    void refillView(int lines = 0);

    QPlainTextEdit *m_view;
    bool m_viewStale = false; // lines came while the view was not shown
    std::vector<Block> m_blocks; // full blocks, oldest first
    std::unique_ptr<QTemporaryFile> m_spill; // their bytes, once written
    bool m_spillFailed = false;
    mutable QString m_readError; // the spill file failed a read
    QByteArray m_open;           // the lines after the full blocks, unpacked
    qint64 m_lineCount = 0;
    qint64 m_openStartMs = 0;  // startMs of the open block
    qint64 m_lastMs = 0;       // the time of the newest line
    bool m_showTime = false;
    std::function<qint64()> m_clock;
};
