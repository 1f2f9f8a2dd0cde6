#include "app/options.h"

#include "app/mainwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {
// The toolkit's own options (-platform offscreen, -style fusion, ...) are
// taken by the application object, which exists only after this parse:
// they are left for it instead of being refused as unknown.
QStringList withoutToolkitOptions(const QStringList &arguments)
{
    static const QStringList withValue{"platform", "platformpluginpath", "platformtheme", "plugin",
                                       "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                       "stylesheet", "session", "display", "geometry", "title", "name"};
    static const QStringList flags{"reverse", "widgetcount", "nograb", "dograb", "sync"};
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (i > 0 && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--"))) {
            const QString name = a.mid(1).section(QLatin1Char('='), 0, 0);
            if (flags.contains(name))
                continue;
            if (withValue.contains(name)) {
                if (!a.contains(QLatin1Char('=')))
                    ++i; // skip its value too
                continue;
            }
        }
        kept << a;
    }
    return kept;
}
} // namespace

Options Options::parse(const QStringList &arguments)
{
    Options o;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("PackScope: service tool for a BMS on Modbus RTU."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Serial port to open (a name such as ttyUSB0 or a device path)."), QStringLiteral("NAME"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Baud rate: one of %1.").arg(MainWindow::baudRates().join(QStringLiteral(", "))),
        QStringLiteral("RATE"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
        QStringLiteral("Slave address of the BMS, 1..64."), QStringLiteral("N"));
    const QCommandLineOption monitorOption(QStringLiteral("monitor"),
        QStringLiteral("Start monitoring once the window is shown."));
    parser.addOptions({portOption, baudOption, addressOption, monitorOption});
    const QCommandLineOption readSetOption(QStringLiteral("read-set"),
        QStringLiteral("Read the pack's parameters into a parameter set file and exit (needs --port)."), QStringLiteral("FILE"));
    const QCommandLineOption writeSetOption(QStringLiteral("write-set"),
        QStringLiteral("Write a parameter set file into the pack, read it back and exit (needs --port)."), QStringLiteral("FILE"));
    const QCommandLineOption pollOption(QStringLiteral("poll-ms"),
        QStringLiteral("Poll period in milliseconds, 50..10000 (default 1000)."), QStringLiteral("MS"));
    parser.addOptions({readSetOption, writeSetOption, pollOption});

    if (!parser.parse(withoutToolkitOptions(arguments))) {
        o.outcome = ExitError;
        o.message = parser.errorText();
        return o;
    }
    // addHelpOption also registers --help-all, which parse() leaves to the
    // caller: without this it would fall through and start the window.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        o.outcome = ExitOk;
        o.message = parser.helpText();
        return o;
    }
    if (parser.isSet(versionOption)) {
        o.outcome = ExitOk;
        o.message = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
        return o;
    }
    if (!parser.positionalArguments().isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return o;
    }
    if (parser.isSet(portOption)) {
        o.port = parser.value(portOption);
        if (o.port.trimmed().isEmpty()) {
            o.outcome = ExitError;
            o.message = QStringLiteral("--port needs a port name");
            return o;
        }
    }
    if (parser.isSet(baudOption)) {
        const QString value = parser.value(baudOption);
        if (!MainWindow::baudRates().contains(value)) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --baud '%1': use one of %2")
                            .arg(value, MainWindow::baudRates().join(QStringLiteral(", ")));
            return o;
        }
        o.baud = value.toInt();
    }
    if (parser.isSet(addressOption)) {
        bool ok = false;
        const QString value = parser.value(addressOption);
        const int address = value.toInt(&ok);
        if (!ok || address < 1 || address > 64) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --address '%1': use a number from 1 to 64").arg(value);
            return o;
        }
        o.address = address;
    }
    o.monitor = parser.isSet(monitorOption);
    if (parser.isSet(pollOption)) {
        bool ok = false;
        const QString value = parser.value(pollOption);
        o.pollMs = value.toInt(&ok);
        if (!ok || o.pollMs < 50 || o.pollMs > 10000) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --poll-ms '%1': use a number from 50 to 10000").arg(value);
            return o;
        }
    }
    o.readSet = parser.value(readSetOption);
    o.writeSet = parser.value(writeSetOption);
    if ((parser.isSet(readSetOption) && o.readSet.isEmpty()) || (parser.isSet(writeSetOption) && o.writeSet.isEmpty())) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-set and --write-set need a file name");
        return o;
    }
    if (!o.readSet.isEmpty() && !o.writeSet.isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-set and --write-set cannot be used together");
        return o;
    }
    if (o.isParameterJob() && (o.port.isEmpty() || o.monitor)) {
        o.outcome = ExitError;
        o.message = o.port.isEmpty() ? QStringLiteral("--read-set and --write-set need --port")
                                     : QStringLiteral("--monitor cannot be used with --read-set or --write-set");
        return o;
    }
    return o;
}
