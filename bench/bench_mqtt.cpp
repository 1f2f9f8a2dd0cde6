// The unattended monitor publishing 16 packs: packscope --service against
// bms-sim (--address 1-16) at one sample a second per pack, a mosquitto
// broker of its own and a subscriber, for --minutes N (default 10). In the
// middle the broker is stopped for --down S seconds (default 10) and
// started again. Prints what the subscriber got (every pack's samples in
// order, none lost, none twice), the service's CPU as a share of one core
// and its resident size at the start and the end, and what an hour of
// samples waiting for the broker costs in memory.
#include "model/livedata.h"
#include "protocol/registers.h"
#include "publish/outbox.h"
#include "publish/packjson.h"
#include "support/benchtools.h"
#include "support/mqttbroker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// utime + stime (clock ticks) and VmRSS (KiB) of a process.
struct Usage
{
    qint64 ticks = 0;
    qint64 rssKb = 0;
};
Usage usageOf(qint64 pid)
{
    Usage u;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // The fields after the command's closing parenthesis, from field 3.
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        u.ticks = f.value(11).toLongLong() + f.value(12).toLongLong();
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                u.rssKb = line.mid(6).trimmed().split(' ').first().toLongLong();
    return u;
}

// Runs the event loop for `ms`, so that the subscriber's output is read;
// asleep in between, not to take CPU from the service it measures.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(qMax(0, ms), &loop, &QEventLoop::quit);
    loop.exec();
}

// An hour of 16 packs at one sample a second waiting for the broker: the
// outbox's payload bytes and what the process grew by.
void outboxFigures()
{
    BmsLiveData live;
    quint16 *r = live.registerImage;
    r[Reg::TotalVoltage] = 5301;
    r[Reg::PackCurrent] = quint16(qint16(-2987));
    for (int i = 0; i < 16; ++i)
        r[Reg::CellVoltage + i] = quint16(3300 + i * 3);
    r[Reg::CellCount] = 16;
    r[Reg::FullCapacity] = 1000;
    r[Reg::Soc] = r[Reg::RemainCapacity] = 80;
    r[Reg::Soh] = 98;
    r[Reg::WarningBits] = 0x0002;
    constexpr int Messages = 16 * 3600;
    const qint64 before = memory().value(QStringLiteral("VmRSS"));
    Outbox box(Messages);
    const QByteArray topic = PackJson::stateTopic("PS2026120600001");
    for (int i = 0; i < Messages; ++i)
        box.push(topic, PackJson::state(quint8(1 + i % 16), live, QStringLiteral("2026-12-07 10:00:00"), quint64(i / 16 + 1)),
                 false);
    const qint64 after = memory().value(QStringLiteral("VmRSS"));
    std::printf("An hour of 16 packs waiting for the broker: %d state messages of %lld bytes each, %.1f MB of payload, "
                "the process grew by %.1f MB\n",
                box.size(), box.bytes() / box.size(), box.bytes() / 1e6, (after - before) / 1024.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    double minutes = 10;
    int downS = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--minutes"))
            minutes = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--down"))
            downS = args[i + 1].toInt();
    }
    if (minutes <= 0 || downS < 0) {
        std::fprintf(stderr, "usage: bench_mqtt [--minutes N] [--down S]\n");
        return 2;
    }
    outboxFigures();

    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QTemporaryDir work;
    MqttBroker broker;
    broker.setLogEverything(true); // to count what the broker took from the service
    if (!broker.start()) {
        std::fprintf(stderr, "bench_mqtt: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    MqttSubscriber sub;
    sub.start(broker.port(), {QStringLiteral("packscope/+/state")}, QStringLiteral("bench-sub"));

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(dir + QStringLiteral("/bms-sim"), {QStringLiteral("--address"), QStringLiteral("1-16")});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_mqtt: bms-sim did not start\n");
        return 1;
    }
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed().mid(7);

    QProcess service;
    service.setStandardErrorFile(work.filePath(QStringLiteral("service.log")));
    service.start(dir + QStringLiteral("/packscope"),
                  {QStringLiteral("--service"), QStringLiteral("--port"), device, QStringLiteral("--address"),
                   QStringLiteral("1-16"), QStringLiteral("--mqtt"), broker.url(), QStringLiteral("--data-dir"),
                   work.filePath(QStringLiteral("data"))});
    if (!service.waitForStarted()) {
        std::fprintf(stderr, "bench_mqtt: packscope did not start\n");
        return 1;
    }
    const qint64 pid = service.processId();
    std::printf("packscope --service on 16 packs at 1 Hz for %.1f min, broker stopped for %d s in the middle\n", minutes,
                downS);
    std::fflush(stdout);

    // The first ten seconds: start-up, every pack's identity and discovery.
    wait(10000);
    const Usage start = usageOf(pid);
    QElapsedTimer clock;
    clock.start();
    const qint64 totalMs = qint64(minutes * 60000);
    wait(int(totalMs / 2));
    broker.stop();
    wait(downS * 1000);
    if (!broker.start()) {
        std::fprintf(stderr, "bench_mqtt: the broker did not start again: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    wait(int(totalMs - clock.elapsed()));
    const Usage end = usageOf(pid);
    const double seconds = clock.elapsed() / 1000.0;

    // Stopped in order; the subscriber gets what is still on its way.
    ::kill(pid_t(pid), SIGTERM);
    service.waitForFinished(30000);
    wait(5000);
    sim.write("quit\n");
    sim.waitForFinished(3000);

    // Every pack's samples as the history stored them, and as received.
    QMap<QString, qint64> stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(work.filePath(QStringLiteral("data/my1.db")));
        if (db.open()) {
            QSqlQuery q(QStringLiteral("select BMS_ISDN, count(*) from total group by BMS_ISDN"), db);
            while (q.next())
                stored[q.value(0).toString()] = q.value(1).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    QMap<QString, QVector<qint64>> seqs;
    for (const MqttSubscriber::Message &m : sub.messages())
        seqs[m.topic.section(QLatin1Char('/'), 1, 1)]
            << QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("seq")).toVariant().toLongLong();
    qint64 received = 0, lost = 0, twice = 0, disorder = 0, expected = 0;
    for (auto it = seqs.cbegin(); it != seqs.cend(); ++it) {
        qint64 last = 0;
        for (qint64 seq : it.value()) {
            ++received;
            if (seq == last)
                ++twice;
            else if (seq < last)
                ++disorder;
            else
                lost += seq - last - 1;
            last = qMax(last, seq);
        }
        const qint64 inHistory = stored.value(it.key());
        lost += qMax<qint64>(0, inHistory - last); // published at the end, never received
        expected += inHistory;
    }
    // What the broker took from the service: each state message once, or
    // some of them again after the restart (an acknowledgement lost).
    qint64 tookTwice = 0;
    {
        QFile brokerLog(broker.logFile());
        brokerLog.open(QIODevice::ReadOnly);
        qint64 took = 0;
        for (const QByteArray &line : brokerLog.readAll().split('\n'))
            if (line.contains("Received PUBLISH from packscope-") && line.contains("/state'"))
                ++took;
        tookTwice = took - expected;
    }
    const long ticksPerS = ::sysconf(_SC_CLK_TCK);
    const double cpu = 100.0 * double(end.ticks - start.ticks) / ticksPerS / seconds;

    QFile log(work.filePath(QStringLiteral("service.log")));
    log.open(QIODevice::ReadOnly);
    const QList<QByteArray> lines = log.readAll().split('\n');
    std::printf("Service log lines: %d; about the broker:\n", int(lines.size()) - 1);
    for (const QByteArray &line : lines)
        if (line.contains("MQTT"))
            std::printf("  %s\n", line.constData());
    std::printf("Packs received: %d; samples stored in the history: %lld; received: %lld\n", int(seqs.size()), expected,
                received);
    std::printf("Lost: %lld; received twice: %lld; out of order: %lld\n", lost, twice, disorder);
    std::printf("Sent twice by the service (the broker's log): %lld; delivered again by the broker to the subscriber "
                "after its restart (QoS 1: its acknowledgement was not in before the broker stopped): %lld\n",
                tookTwice, twice - tookTwice);
    std::printf("Service CPU: %.2f %% of one core over %.0f s\n", cpu, seconds);
    std::printf("Service RSS: %.1f MB after 10 s, %.1f MB at the end\n", start.rssKb / 1024.0, end.rssKb / 1024.0);
    verdict("every sample of 16 packs received, in order, none lost", seqs.size() == 16 && lost == 0 && disorder == 0
                && received - twice == expected,
            QStringLiteral("%1 of %2").arg(received - twice).arg(expected));
    verdict("none sent twice by the service", tookTwice == 0, QString::number(tookTwice));
    verdict("none received twice", twice == 0, QString::number(twice));
    return 0;
}
