#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

class QPlainTextEdit;

// The communication log: one line per frame sent or answer taken. Every line
// is kept, as raw bytes in one compact store, so a log that runs for weeks
// costs a few dozen bytes a line; the view shows only the newest lines, so
// neither memory nor relayout grows with the log. Save and Clear act on the
// whole log.
class CommLog
{
public:
    enum Direction : quint8 { Sent = 0, Received = 1 };
    static constexpr int ViewLines = 10000;

    explicit CommLog(QPlainTextEdit *view);

    // Appends a line in `language` (0 Chinese, 1 English; other values log
    // nothing) and keeps the newest line in view.
    void logFrame(Direction direction, const QByteArray &bytes, int language);

    qint64 lineCount() const { return qint64(m_offsets.size()); }
    QString line(qint64 index) const;
    // All lines separated by a line feed, followed by CR LF, appended to the
    // file (created when missing). False when the file cannot be written.
    bool appendTo(const QString &fileName) const;
    void clear();

    static QString prefix(Direction direction, int language);
    static QString formatLine(Direction direction, const QByteArray &bytes, int language);

private:
    QPlainTextEdit *m_view;
    // Each line: one tag byte (direction | language << 1), then its frame bytes.
    QByteArray m_store;
    std::vector<quint64> m_offsets;
};
