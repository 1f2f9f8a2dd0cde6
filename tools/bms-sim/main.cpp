// bms-sim: a battery pack's BMS on a serial line, for trying the tool without
// hardware and for the end-to-end tests. It answers Modbus RTU reads and
// writes of its holding registers (and the BMS's own ID and protocol
// commands) and can spoil its answers in the ways a real bus does.
//
// Without --device it opens a pseudo-terminal and the tool opens the slave
// side by name. The first line on stdout names the device: "DEVICE <path>".
// Control lines on stdin: "silent on", "silent off", "restart" (the pack
// is switched off and on: it takes an ID set since), "unplug", "replug",
// "quit", and "registers START COUNT", answered on stdout with
// "REGISTERS START v1 v2 ...". With --link PATH the device is reached through a symbolic link
// that "unplug" removes (closing the pseudo-terminal, as a pulled adapter
// would) and "replug" puts back, pointing at a new pseudo-terminal.
//
// For soak runs, --spoil-percent spoils a share of the answers in ways drawn
// at random (seeded by --seed), and --served-log writes one line per answer
// given: "<ms since the epoch> <how> <request hex> <answer hex>", where <how>
// is "ok" for an answer that went on the line intact, otherwise the kind of
// spoiling ("badcrc", "stray", "split", "silent", "exception"), "joined"
// (answered back to back with another request read in the same burst) or "fault"
// (one of the every-Kth faults). The answer hex is the plain answer.

#include "bmsmodel.h"
#include "linewriter.h"
#include "pseudoterminal.h"
#include "slaveresponder.h"

#include "protocol/frames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

struct Options
{
    QString device;
    int address = 1;          // the first pack's ID
    QList<int> moreAddresses; // further packs on the same line
    int baud = 115200;
    QString model = QStringLiteral("PS16S-100AH");
    QString version = QStringLiteral("V1.2.0");
    QString serial = QStringLiteral("PS2026120600001");
    SlaveFaults faults;
    QStringList rs485Protocols = BmsModel::rs485Protocols();
    QStringList canProtocols = BmsModel::canProtocols();
    quint32 seed = 1;
    bool verbose = false;
    QString link;
    bool readException = false;
    int byteTimeBaud = 0; // 0: bytes go out at once
    int answerDelayMs = 10; // with byteTimeBaud: from a request to its answer
    bool slowAnswers = false; // answerDelayMs given: counted from each request
    QString servedLog;
};

bool parseOptions(const QCoreApplication &app, Options &o)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated BMS of a 16-cell LFP pack on a Modbus RTU line.\n"
        "\n"
        "The first line on stdout names the device the tool is to open:\n"
        "  DEVICE <path>          a new pseudo-terminal, the --link path, or the\n"
        "                         --device path\n"
        "\n"
        "Control lines, read one a line on stdin:\n"
        "  silent on              stop answering (as --silent)\n"
        "  silent off             answer again\n"
        "  silent ID on|off       the same for the pack at ID alone (several packs)\n"
        "  restart                switch the pack off and on: an ID set since takes\n"
        "                         effect\n"
        "  unplug                 close the pseudo-terminal and remove the --link, as a\n"
        "                         pulled adapter would (not with --device)\n"
        "  replug                 open a new pseudo-terminal and point the --link at it\n"
        "  registers START COUNT  print COUNT registers from START on stdout as\n"
        "                         \"REGISTERS START v1 v2 ...\" (decimal values)\n"
        "  quit                   exit\n"
        "Another line is reported on stderr. When stdin is a pipe, its end (the\n"
        "controlling process went away) ends the simulator too."));
    p.addHelpOption();
    const QCommandLineOption device("device", "Serial device to use instead of a new pseudo-terminal.", "path");
    const QCommandLineOption address("address",
        "Slave address (1..247, default 1), or a list of them (\"1,3,7\", \"1-4,9\"): one pack for each ID on the "
        "same line, each with its own serial (the last three digits are its ID) and values; the first keeps the "
        "serial given.", "ids", "1");
    const QCommandLineOption baud("baud", "Baud rate of --device (default 115200).", "rate", "115200");
    const QCommandLineOption model("model", "Model text (24 bytes at most).", "text", o.model);
    const QCommandLineOption version("version-text", "Version text (6 bytes at most).", "text", o.version);
    const QCommandLineOption serial("serial", "Serial number text (16 bytes at most).", "text", o.serial);
    const QCommandLineOption silent("silent", "Never answer (until \"silent off\").");
    const QCommandLineOption badCrc("bad-crc", "Corrupt the CRC of every Kth answer.", "k", "0");
    const QCommandLineOption stray("stray", "Send one stray byte after every Kth answer.", "k", "0");
    const QCommandLineOption wrongAddress("wrong-address", "Answer every Kth request from another address.", "k", "0");
    const QCommandLineOption splitGap("split-gap", "Write every answer in three pieces G ms apart.", "g", "0");
    const QCommandLineOption writeException("write-exception", "Refuse register writes with a Modbus exception.");
    const QCommandLineOption writeNoAck("write-no-ack", "Store register writes but never acknowledge them.");
    const QCommandLineOption ackTwice("ack-twice", "Acknowledge every register write twice, the copy late.");
    const QCommandLineOption wrongEcho("wrong-echo", "Acknowledge register writes echoing the wrong register.");
    const QCommandLineOption seed("seed", "Seed of the pack's cell spread and noise.", "n", "1");
    const QCommandLineOption verbose("verbose", "Report every request and answer on stderr.");
    const QCommandLineOption byteTime("byte-time",
        "Time the line like a real one at RATE baud: each byte takes 11/RATE s, an answer starts 10 ms "
        "after its request.", "rate", "0");
    const QCommandLineOption answerDelay("answer-delay",
        "With --byte-time: start each answer MS after its request (a slow pack; default 10).", "ms", "10");
    const QCommandLineOption answerTwice("answer-twice",
        "Answer every read of a log record twice, the second time 30 ms after the first.");
    const QCommandLineOption link("link", "Offer the pseudo-terminal through a symbolic link at PATH.", "path");
    const QCommandLineOption readException("read-exception", "Refuse register reads with a Modbus exception.");
    const QCommandLineOption spoil("spoil-percent",
        "Spoil each Modbus answer with this chance in percent (bad CRC, stray bytes, split beyond the "
        "frame silence, silent, exception; kind drawn at random, seeded by --seed).", "p", "0");
    const QCommandLineOption servedLog("served-log",
        "Append one line per answer given to FILE: ms since the epoch, \"ok\" or how it was spoiled, "
        "request hex, answer hex.", "file");
    const QCommandLineOption rs485Protocols("rs485-protocols",
                                            "RS485 protocols offered, comma-separated (10 characters each at most, 25 at most; empty: none).",
                                            "names", o.rs485Protocols.join(','));
    const QCommandLineOption canProtocols("can-protocols", "CAN protocols offered, as --rs485-protocols.", "names",
                                          o.canProtocols.join(','));
    const QCommandLineOption countSurplus("protocol-count-surplus",
                                          "Protocol lists claim N records more than they carry.", "n", "0");
    const QCommandLineOption ignoreSet("ignore-set-commands", "Neither act on nor answer the ID and protocol set commands.");
    p.addOptions({device, address, baud, model, version, serial, silent, badCrc, stray, wrongAddress,
                  splitGap, writeException, seed, verbose, link, readException, byteTime, answerDelay, answerTwice});
    p.addOptions({rs485Protocols, canProtocols, countSurplus, ignoreSet, writeNoAck, ackTwice, wrongEcho, spoil, servedLog});
    p.process(app);

    bool ok = true;
    auto number = [&p, &ok](const QCommandLineOption &option, int low, int high) {
        bool good = false;
        const int value = p.value(option).toInt(&good);
        if (!good || value < low || value > high) {
            printLine(stderr, QStringLiteral("bms-sim: --%1 wants a number from %2 to %3")
                                  .arg(option.names().first()).arg(low).arg(high));
            ok = false;
        }
        return value;
    };
    o.device = p.value(device);
    {
        // "1,3,7" or "1-4,9": every ID once, in the order given.
        QList<int> ids;
        for (const QString &part : p.value(address).split(QLatin1Char(','))) {
            const QStringList ends = part.split(QLatin1Char('-'));
            bool a = false, b = ends.size() == 1;
            const int lo = ends.value(0).toInt(&a);
            const int hi = ends.size() == 2 ? ends.value(1).toInt(&b) : lo;
            if (!a || !b || ends.size() > 2 || lo < 1 || hi > 247 || lo > hi) {
                printLine(stderr, QStringLiteral("bms-sim: --address wants IDs 1..247, as a list like 1,3,7 or 1-4,9"));
                ok = false;
                break;
            }
            for (int id = lo; id <= hi; ++id)
                if (!ids.contains(id))
                    ids << id;
        }
        if (!ids.isEmpty()) {
            o.address = ids.takeFirst();
            o.moreAddresses = ids;
        }
    }
    o.baud = number(baud, 50, 4000000);
    o.model = p.value(model);
    o.version = p.value(version);
    o.serial = p.value(serial);
    o.faults.silent = p.isSet(silent);
    o.faults.badCrcEvery = number(badCrc, 0, 1000000);
    o.faults.strayEvery = number(stray, 0, 1000000);
    o.faults.wrongAddressEvery = number(wrongAddress, 0, 1000000);
    o.faults.splitGapMs = number(splitGap, 0, 10000);
    o.faults.writeException = p.isSet(writeException);
    o.faults.writeNoAck = p.isSet(writeNoAck);
    o.faults.ackTwice = p.isSet(ackTwice);
    o.faults.wrongEcho = p.isSet(wrongEcho);
    o.seed = quint32(p.value(seed).toUInt());
    // A name record is 10 bytes and a list answer carries at most 255.
    auto protocols = [&p, &ok](const QCommandLineOption &option) {
        const QString text = p.value(option);
        const QStringList names = text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
        bool good = names.size() <= 25;
        for (const QString &name : names)
            good = good && !name.isEmpty() && name.size() <= 10 && name.toLatin1() == name.toUtf8();
        if (!good) {
            printLine(stderr, QStringLiteral("bms-sim: --%1 wants at most 25 ASCII names of 1 to 10 characters")
                                  .arg(option.names().first()));
            ok = false;
        }
        return names;
    };
    o.rs485Protocols = protocols(rs485Protocols);
    o.canProtocols = protocols(canProtocols);
    o.faults.protocolCountSurplus = number(countSurplus, 0, 255);
    o.faults.ignoreSetCommands = p.isSet(ignoreSet);
    o.verbose = p.isSet(verbose);
    o.link = p.value(link);
    o.faults.readException = p.isSet(readException);
    o.faults.spoilPercent = number(spoil, 0, 100);
    o.servedLog = p.value(servedLog);
    if (!o.link.isEmpty() && !o.device.isEmpty()) {
        printLine(stderr, QStringLiteral("bms-sim: --link goes with a pseudo-terminal, not with --device"));
        ok = false;
    }
    o.byteTimeBaud = p.isSet(byteTime) ? number(byteTime, 50, 4000000) : 0;
    o.answerDelayMs = p.isSet(answerDelay) ? number(answerDelay, 0, 5000) : 10;
    o.slowAnswers = p.isSet(answerDelay);
    o.faults.recordsTwice = p.isSet(answerTwice);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bms-sim"));
    Options options;
    if (!parseOptions(app, options))
        return 2;

    QElapsedTimer clock;
    clock.start();
    BmsModel model(options.seed);
    model.setIdentity(options.model, options.version, options.serial);
    model.rs485ProtocolNames = options.rs485Protocols;
    model.canProtocolNames = options.canProtocols;
    SlaveResponder responder(model, quint8(options.address), options.faults, options.seed);
    // Further packs on the line: each its own model, seeded apart, with a
    // serial that ends in its ID; each answers only its own ID (all of them
    // answer the 0x10 commands, as packs on one bus would).
    std::vector<std::unique_ptr<BmsModel>> moreModels;
    std::vector<std::unique_ptr<SlaveResponder>> moreResponders;
    for (int id : options.moreAddresses) {
        const quint32 seed = options.seed + quint32(id) * 7919;
        moreModels.push_back(std::make_unique<BmsModel>(seed));
        BmsModel &m = *moreModels.back();
        const QString serial = options.serial.left(qMax(0, options.serial.size() - 3))
                               + QStringLiteral("%1").arg(id, 3, 10, QLatin1Char('0'));
        m.setIdentity(options.model, options.version, serial);
        m.rs485ProtocolNames = options.rs485Protocols;
        m.canProtocolNames = options.canProtocols;
        moreResponders.push_back(std::make_unique<SlaveResponder>(m, quint8(id), options.faults, seed));
    }
    const auto everyResponder = [&](const std::function<void(SlaveResponder &)> &act) {
        act(responder);
        for (auto &r : moreResponders)
            act(*r);
    };
    if (options.verbose) {
        responder.onExchange = [&clock](const QByteArray &request, const QByteArray &answer) {
            printLine(stderr, QStringLiteral("%1 RX %2%3")
                                  .arg(clock.elapsed(), 8)
                                  .arg(Frames::hexText(request), answer.isEmpty() ? QStringLiteral(" (no answer)") : QString()));
        };
    }
    std::unique_ptr<FILE, int (*)(FILE *)> servedLog(nullptr, &std::fclose);
    if (!options.servedLog.isEmpty()) {
        servedLog.reset(std::fopen(QFile::encodeName(options.servedLog).constData(), "a"));
        if (!servedLog) {
            printLine(stderr, QStringLiteral("bms-sim: cannot write %1").arg(options.servedLog));
            return 1;
        }
        // A line at a time: the log must be whole when the simulator is
        // killed, and readable while it runs.
        std::setvbuf(servedLog.get(), nullptr, _IOLBF, 0);
        responder.onServed = [&servedLog](const QByteArray &request, const QByteArray &answer,
                                          const QVector<LinePiece> &pieces, Spoil spoil) {
            const bool intact = pieces.size() == 1 && pieces.first().bytes == answer;
            const char *how = spoil != Spoil::None ? spoilName(spoil) : intact ? "ok" : "fault";
            std::fprintf(servedLog.get(), "%lld %s %s %s\n", QDateTime::currentMSecsSinceEpoch(), how,
                         request.toHex().constData(), answer.toHex().constData());
        };
    }
    for (auto &r : moreResponders) {
        r->onExchange = responder.onExchange;
        r->onServed = responder.onServed;
    }
    // What goes on the line, as written (faults and pieces included).
    auto logWritten = [&clock, &options](const QByteArray &bytes) {
        if (options.verbose)
            printLine(stderr, QStringLiteral("%1 TX %2").arg(clock.elapsed(), 8).arg(Frames::hexText(bytes)));
    };

    // The line: a pseudo-terminal of our own, or a real serial port.
    PseudoTerminal pty;
    QSerialPort port;
    std::unique_ptr<QSocketNotifier> ptyNotifier;
    std::unique_ptr<LineWriter> writer;
    auto onBytes = [&](const QByteArray &bytes) {
        if (bytes.isEmpty())
            return;
        const qint64 now = clock.elapsed();
        everyResponder([&](SlaveResponder &r) {
            const QVector<LinePiece> pieces = r.receive(bytes, now);
            if (pieces.isEmpty() || !options.slowAnswers) {
                writer->enqueue(pieces);
                return;
            }
            // A slow pack counts its delay from its own request, even while
            // an earlier answer (another pack's) is still to go out.
            QTimer::singleShot(options.answerDelayMs, writer.get(), [&writer, pieces] { writer->enqueue(pieces); });
        });
    };

    // Opens a pseudo-terminal (again) and, with --link, points the link at it.
    auto plugIn = [&]() -> bool {
        if (!pty.open()) {
            printLine(stderr, QStringLiteral("bms-sim: cannot open a pseudo-terminal: %1").arg(pty.errorString()));
            return false;
        }
        ptyNotifier = std::make_unique<QSocketNotifier>(pty.masterFd(), QSocketNotifier::Read);
        QObject::connect(ptyNotifier.get(), &QSocketNotifier::activated, [&] { onBytes(pty.readAvailable()); });
        if (!options.link.isEmpty()) {
            QFile::remove(options.link);
            if (!QFile::link(pty.slaveName(), options.link)) {
                printLine(stderr, QStringLiteral("bms-sim: cannot make the link %1").arg(options.link));
                return false;
            }
        }
        return true;
    };
    auto unplug = [&] {
        ptyNotifier.reset();
        pty.close();
        if (!options.link.isEmpty())
            QFile::remove(options.link);
    };

    if (options.device.isEmpty()) {
        writer = std::make_unique<LineWriter>([&](const QByteArray &bytes) {
            logWritten(bytes);
            if (pty.isOpen())
                pty.write(bytes);
        });
        if (!plugIn())
            return 1;
        printLine(stdout, QStringLiteral("DEVICE %1").arg(options.link.isEmpty() ? pty.slaveName() : options.link));
    } else {
        port.setPortName(options.device);
        if (!port.open(QIODevice::ReadWrite)) {
            printLine(stderr, QStringLiteral("bms-sim: cannot open %1: %2").arg(options.device, port.errorString()));
            return 1;
        }
        port.setBaudRate(options.baud);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        writer = std::make_unique<LineWriter>([&](const QByteArray &bytes) {
            logWritten(bytes);
            port.write(bytes);
            port.flush();
        });
        QObject::connect(&port, &QSerialPort::readyRead, [&] { onBytes(port.readAll()); });
        printLine(stdout, QStringLiteral("DEVICE %1").arg(options.device));
    }

    if (options.byteTimeBaud > 0)
        writer->setLineTiming(options.byteTimeBaud, options.slowAnswers ? 0 : options.answerDelayMs);

    // Control lines on stdin. The end of a pipe means the controlling
    // process went away, which ends the simulator too; a stdin that is a
    // file or /dev/null just has nothing to say.
    struct stat stdinStat {};
    const bool stdinIsPipe = ::fstat(STDIN_FILENO, &stdinStat) == 0 && S_ISFIFO(stdinStat.st_mode);
    QByteArray pendingInput;
    QSocketNotifier stdinNotifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&stdinNotifier, &QSocketNotifier::activated, [&] {
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            stdinNotifier.setEnabled(false);
            if (stdinIsPipe)
                QCoreApplication::quit();
            return;
        }
        pendingInput.append(chunk, int(n));
        int end;
        while ((end = pendingInput.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pendingInput.left(end)).trimmed();
            pendingInput.remove(0, end + 1);
            if (line == QLatin1String("silent on"))
                everyResponder([](SlaveResponder &r) { r.faults().silent = true; });
            else if (line == QLatin1String("silent off"))
                everyResponder([](SlaveResponder &r) { r.faults().silent = false; });
            else if (line.startsWith(QLatin1String("silent ")) && line.count(QLatin1Char(' ')) == 2) {
                // One pack of the line falls silent while the others answer.
                const int id = line.section(QLatin1Char(' '), 1, 1).toInt();
                const bool on = line.section(QLatin1Char(' '), 2, 2) == QLatin1String("on");
                everyResponder([id, on](SlaveResponder &r) {
                    if (r.address() == id)
                        r.faults().silent = on;
                });
            }
            else if (line == QLatin1String("unplug") && options.device.isEmpty())
                unplug();
            else if (line == QLatin1String("replug") && options.device.isEmpty() && !pty.isOpen())
                plugIn();
            else if (line == QLatin1String("restart"))
                everyResponder([](SlaveResponder &r) { r.restart(); });
            else if (line == QLatin1String("quit"))
                QCoreApplication::quit();
            else if (line.startsWith(QLatin1String("registers "))) {
                const int start = qBound(0, line.section(QLatin1Char(' '), 1, 1).toInt(), BmsModel::RegisterCount - 1);
                const int count = qBound(0, line.section(QLatin1Char(' '), 2, 2).toInt(), BmsModel::RegisterCount - start);
                model.prepareRead(start, count, clock.elapsed());
                QString reply = QStringLiteral("REGISTERS %1").arg(start);
                for (int i = 0; i < count; ++i)
                    reply += QStringLiteral(" %1").arg(model.reg(start + i));
                printLine(stdout, reply);
            }
            else if (!line.isEmpty())
                printLine(stderr, QStringLiteral("bms-sim: unknown control line \"%1\"").arg(line));
            if (options.verbose && !line.isEmpty())
                printLine(stderr, QStringLiteral("%1 CTL %2").arg(clock.elapsed(), 8).arg(line));
        }
    });

    const int rc = app.exec();
    unplug();
    return rc;
}
