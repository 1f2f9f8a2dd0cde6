// How long writing a whole parameter set (15 groups, 51 registers) and
// reading it back takes through `packscope --write-set`, against bms-sim
// timed like a real line at 115200 baud (every byte 11/115200 s on the wire,
// each answer 10 ms after its request): at the fast pace (each frame as soon
// as the last is acknowledged) and at the normal pace (one frame a poll
// tick, 1 s), the latter skipped with --fast-only. Times are whole runs of
// the program, as a production line sees them: start, link, the read before
// the write, the write, the read-back. Prints both and their ratio.
//
// Usage: bench_writeset [--fast-only] [--baud RATE]
#include "support/benchtools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {
QString g_exe, g_device;

// Seconds the run took, or -1 when it failed (its stderr then goes to ours).
double timeRun(const QStringList &arguments)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(g_exe, QStringList{"--port", g_device} + arguments);
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s", p.readAllStandardError().constData());
        return -1;
    }
    return t.elapsed() / 1000.0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool fastOnly = args.contains(QStringLiteral("--fast-only"));
    int baud = 115200;
    if (int i = args.indexOf(QStringLiteral("--baud")); i > 0 && i + 1 < args.size())
        baud = args.at(i + 1).toInt();
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    g_exe = dir + QStringLiteral("/packscope");

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(dir + QStringLiteral("/bms-sim"), {"--byte-time", QString::number(baud)});
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_writeset: bms-sim did not start\n");
        return 1;
    }
    g_device = QString::fromLocal8Bit(sim.readLine()).trimmed().mid(7);

    QTemporaryDir data;
    const QString set = data.filePath(QStringLiteral("set.json"));
    const QStringList common{"--data-dir", data.path(), "--baud", QString::number(baud)};
    std::printf("bms-sim timed like a %d-baud line; a whole set: 15 groups, 51 registers\n", baud);
    const double read = timeRun(common + QStringList{"--read-set", set});
    std::printf("--read-set:               %6.2f s\n", read);
    std::fflush(stdout);
    const double fast = read < 0 ? -1 : timeRun(common + QStringList{"--write-set", set, "--fast"});
    std::printf("--write-set --fast:       %6.2f s\n", fast);
    std::fflush(stdout);
    double normal = -1;
    if (!fastOnly && fast > 0) {
        normal = timeRun(common + QStringList{"--write-set", set});
        std::printf("--write-set (1 s ticks):  %6.2f s\n", normal);
        if (normal > 0)
            std::printf("ratio normal / fast: %.1f\n", normal / fast);
    }
    verdict("a whole set written and read back at the fast pace, under 5 s", fast > 0 && fast < 5,
            QStringLiteral("%1 s").arg(fast, 0, 'f', 2));
    sim.write("quit\n");
    sim.waitForFinished(3000);
    return fast > 0 && (fastOnly || normal > 0) ? 0 : 1;
}
