#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QString>

#include <cstdio>

// Small tools the benchmarks share.

// Counts the paint events of a widget it filters: a step is done when the
// widget has drawn its result.
class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
    bool waitForPaint(int before, int timeoutMs = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (count == before && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return count != before;
    }
};

inline double ms(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

// VmRSS, RssAnon and RssFile of this process in KiB.
inline QMap<QString, qint64> memory()
{
    QMap<QString, qint64> kb;
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return kb;
    for (const QByteArray &line : f.readAll().split('\n')) {
        for (const char *key : {"VmRSS", "RssAnon", "RssFile"}) {
            if (line.startsWith(QByteArray(key) + ':'))
                kb[QString::fromLatin1(key)] = line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').first().toLongLong();
        }
    }
    return kb;
}

// One line of a benchmark's verdict table.
inline void verdict(const char *what, bool ok, const QString &detail)
{
    std::printf("  %-64s %-28s %s\n", what, qPrintable(detail), ok ? "met" : "NOT MET");
}

// Runs this benchmark again with `args` in a process of its own (a fresh
// heap, its own database connections) and gathers the lines it prints as
// "RESULT <key> <value>"; empty when the child failed.
inline QMap<QString, double> runChild(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    QMap<QString, double> v;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 3 && parts[0] == "RESULT")
            v[QString::fromLatin1(parts[1])] = parts[2].toDouble();
    }
    if (p.exitCode() != 0)
        v.clear();
    return v;
}
