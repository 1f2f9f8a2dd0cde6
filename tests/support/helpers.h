#pragma once

// Small helpers shared by the tests.
#include "protocol/crc16.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QVector>

inline QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// `body` with its CRC appended.
inline QByteArray sealed(const QByteArray &body)
{
    QByteArray frame = body + QByteArray(2, '\0');
    sealFrame(frame);
    return frame;
}

// Builds a function-3 answer carrying `registers` (big-endian), CRC sealed.
inline QByteArray readAnswer(quint8 address, const QVector<quint16> &registers)
{
    QByteArray frame;
    frame.append(char(address));
    frame.append(char(0x03));
    frame.append(char(registers.size() * 2));
    for (quint16 r : registers) {
        frame.append(char(r >> 8));
        frame.append(char(r & 0xFF));
    }
    return sealed(frame);
}

inline QByteArray readFile(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

template <typename T> T *child(const QObject *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

class QWidget;
// The widgets of `page` that do not fit: a line edit whose text is clipped, a
// label, button or check box narrower than its size hint, or (`visible`)
// a widget hidden or outside the page. Empty when everything fits.
QStringList unfitWidgets(QWidget *page, bool visible, const QWidget *skip = nullptr);

// The texts of the objects below `root` named in `names` ("a|b"), joined the
// same way: a combo box's current text, a group box's or menu's title, a
// window's title, or else the text.
QString texts(const QObject *root, const QString &names);
class QComboBox;
QStringList items(const QComboBox *box);

#include <QTest>
// Declares the columns of a data-driven test in one line:
// columns<int, QString>("language", "text").
template <typename... T, typename... Names> void columns(Names... names)
{
    static_assert(sizeof...(T) == sizeof...(Names), "one name per column type");
    (QTest::addColumn<T>(names), ...);
}

#include <QDir>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
// A disk that takes no more than `bytes` in any one file, as a nearly full one would, while it lives:
// writes past it fail with EFBIG ("File too large"), the signal that would end the process ignored.
struct FileSizeLimit
{
    rlimit before{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit limit = before;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before); }
};
#endif
// Every entry of `folder`, hidden ones (a temporary file left behind) included.
inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}
