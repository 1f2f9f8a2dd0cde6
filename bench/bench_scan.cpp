// How long `packscope --scan` takes to ask all 64 IDs of a line with packs
// at 1, 3 and 7, against bms-sim timed like a real line (every byte 11/RATE
// s on the wire, each answer 10 ms after its request), at 115200 and at
// 9600 baud. Prints the figures and the verdicts against the targets
// (under 12 s and under 40 s).
//
// Usage: bench_scan
#include "support/benchtools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {
// Seconds for one scan, and the packs it listed; -1 when it failed.
double timeScan(const QString &dir, int baud, int *packs)
{
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(dir + QStringLiteral("/bms-sim"), {"--byte-time", QString::number(baud), "--address", "1,3,7"});
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000))
        return -1;
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed().mid(7);
    QTemporaryDir data;
    QProcess scan;
    QElapsedTimer t;
    t.start();
    scan.start(dir + QStringLiteral("/packscope"), {"--port", device, "--baud", QString::number(baud), "--scan"});
    const bool ok = scan.waitForFinished(120000) && scan.exitCode() == 0;
    const double s = t.elapsed() / 1000.0;
    *packs = int(scan.readAllStandardOutput().count('\n'));
    sim.write("quit\n");
    sim.waitForFinished(3000);
    return ok ? s : -1;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    bool all = true;
    for (const auto &[baud, limit] : {std::pair{115200, 12.0}, std::pair{9600, 40.0}}) {
        int packs = 0;
        const double s = timeScan(dir, baud, &packs);
        std::printf("IDs 1-64 at %6d baud: %6.2f s, %d packs listed\n", baud, s, packs);
        verdict(qPrintable(QStringLiteral("all 64 IDs at %1 baud in under %2 s").arg(baud).arg(limit)),
                s > 0 && s < limit && packs == 3, QStringLiteral("%1 s").arg(s, 0, 'f', 2));
        all = all && s > 0;
    }
    return all ? 0 : 1;
}
