#include "app/commlog.h"

#include "link/frames.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextStream>

CommLog::CommLog(QPlainTextEdit *view) : m_view(view)
{
    if (m_view) {
        m_view->setMaximumBlockCount(ViewLines);
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
    return prefix(direction, language) + Frames::hexText(bytes);
}

void CommLog::logFrame(Direction direction, const QByteArray &bytes, int language)
{
    if (language != 0 && language != 1)
        return;
    m_offsets.push_back(quint64(m_store.size()));
    m_store.append(char(direction | (language << 1)));
    m_store.append(bytes);
    if (m_view) {
        m_view->appendPlainText(formatLine(direction, bytes, language));
        m_view->moveCursor(QTextCursor::End);
    }
}

QString CommLog::line(qint64 index) const
{
    if (index < 0 || index >= lineCount())
        return QString();
    const quint64 begin = m_offsets[size_t(index)];
    const quint64 end = size_t(index) + 1 < m_offsets.size() ? m_offsets[size_t(index) + 1]
                                                              : quint64(m_store.size());
    const quint8 tag = quint8(m_store[int(begin)]);
    const QByteArray bytes = m_store.mid(int(begin + 1), int(end - begin - 1));
    return formatLine(Direction(tag & 1), bytes, tag >> 1);
}

bool CommLog::appendTo(const QString &fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8"); // the Chinese prefixes must survive whatever the locale
    for (qint64 i = 0; i < lineCount(); ++i) {
        if (i > 0)
            out << '\n';
        out << line(i);
    }
    out << "\r\n";
    out.flush();
    return out.status() == QTextStream::Ok;
}

void CommLog::clear()
{
    m_store.clear();
    m_offsets.clear();
    if (m_view)
        m_view->clear();
}
