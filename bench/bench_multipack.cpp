// Sixteen packs on one line at 115200 baud, watched by the window for a
// while (10 minutes unless told): bms-sim timed like a real line serves IDs
// 1-16, `packscope --monitor --address 1-16` polls them once a second under
// the offscreen platform and stores every sample. Prints, per pack, the
// samples stored and the mean and longest time between two of them (from
// the stored time stamps, to the second); the CPU the tool used as a share
// of one core after the first half minute; its memory after the first third
// of the run (caches and the log view filled) and at the end.
// Targets: every pack sampled once a second (mean period within 1.1 s), CPU
// under 3 % of a core, memory flat.
//
// Usage: bench_multipack [MINUTES]
#include "support/benchtools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <QVector>

#include <cstdio>
#include <unistd.h>

namespace {
// User and system CPU seconds of a process, and its resident memory in MB.
bool sample(qint64 pid, double *cpuS, double *rssMb)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !statm.open(QIODevice::ReadOnly))
        return false;
    // The fields after the command's closing parenthesis; utime and stime
    // are the 14th and 15th of the line.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double tick = double(sysconf(_SC_CLK_TCK));
    *cpuS = (f.value(11).toLongLong() + f.value(12).toLongLong()) / tick;
    *rssMb = statm.readAll().split(' ').value(1).toLongLong() * double(sysconf(_SC_PAGESIZE)) / 1048576.0;
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 10.0;
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QTemporaryDir data;

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(dir + QStringLiteral("/bms-sim"), {"--byte-time", "115200", "--address", "1-16"});
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000))
        return 1;
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed().mid(7);

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), data.path());
    env.insert(QStringLiteral("PACKSCOPE_ANSWER_DIALOGS"), QStringLiteral("1"));
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(dir + QStringLiteral("/packscope"),
               {"--port", device, "--address", "1-16", "--monitor", "--data-dir", data.path()});
    if (!tool.waitForStarted(10000))
        return 1;
    const qint64 pid = tool.processId();

    QElapsedTimer t;
    t.start();
    const qint64 total = qint64(minutes * 60000);
    const qint64 settle = qMin<qint64>(30000, total / 4);
    double cpu0 = 0, rss0 = 0, cpu1 = 0, rss1 = 0, unused = 0;
    qint64 at0 = 0, atMemory = 0;
    bool settled = false, memorySettled = false;
    while (t.elapsed() < total) {
        QThread::msleep(500);
        QCoreApplication::processEvents();
        if (!settled && t.elapsed() >= settle) {
            settled = sample(pid, &cpu0, &unused);
            at0 = t.elapsed();
        }
        if (!memorySettled && t.elapsed() >= total / 3) {
            memorySettled = sample(pid, &unused, &rss0);
            atMemory = t.elapsed();
        }
    }
    sample(pid, &cpu1, &rss1);
    const double cpuShare = 100.0 * (cpu1 - cpu0) / ((t.elapsed() - at0) / 1000.0);
    tool.terminate();
    tool.waitForFinished(10000);
    sim.write("quit\n");
    sim.waitForFinished(3000);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
    db.setDatabaseName(data.path() + QStringLiteral("/my1.db"));
    if (!db.open())
        return 1;
    double worstMean = 0;
    int worstGap = 0, fewest = -1;
    std::printf("pack  samples  mean period  longest gap\n");
    for (int id = 1; id <= 16; ++id) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("select time from total where BMS_ISDN=? order by id"));
        q.addBindValue(QStringLiteral("PS2026120600%1").arg(id, 3, 10, QLatin1Char('0')));
        q.exec();
        QVector<qint64> times;
        while (q.next())
            times << QDateTime::fromString(q.value(0).toString(), QStringLiteral("yyyy-MM-dd hh:mm:ss")).toSecsSinceEpoch();
        int gap = 0;
        for (int i = 1; i < times.size(); ++i)
            gap = qMax(gap, int(times[i] - times[i - 1]));
        const double mean = times.size() > 1 ? double(times.last() - times.first()) / (times.size() - 1) : 0;
        std::printf("%4d  %7d  %9.3f s  %9d s\n", id, int(times.size()), mean, gap);
        worstMean = qMax(worstMean, mean);
        worstGap = qMax(worstGap, gap);
        fewest = fewest < 0 ? int(times.size()) : qMin(fewest, int(times.size()));
    }
    std::printf("run %.1f min; CPU %.2f %% of a core after %lld s; RSS %.1f MB at %lld s, %.1f MB at the end (%+.1f MB)\n",
                t.elapsed() / 60000.0, cpuShare, at0 / 1000, rss0, atMemory / 1000, rss1, rss1 - rss0);
    verdict("every pack sampled once a second (mean period within 1.1 s)", fewest > 0 && worstMean <= 1.1,
            QStringLiteral("worst mean %1 s, longest gap %2 s").arg(worstMean, 0, 'f', 3).arg(worstGap));
    verdict("CPU under 3 % of a core", cpuShare < 3.0, QStringLiteral("%1 %").arg(cpuShare, 0, 'f', 2));
    verdict("memory flat (under 2 MB growth)", rss1 - rss0 < 2.0, QStringLiteral("%1 MB").arg(rss1 - rss0, 0, 'f', 1));
    return 0;
}
