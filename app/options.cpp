#include "app/options.h"

#include "model/addresslist.h"

#include "app/appinfo.h"
#include "app/mainwindow.h"

#include "protocol/recordread.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

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
#ifdef Q_OS_WIN
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Serial port to open (a name such as COM3)."), QStringLiteral("NAME"));
#else
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Serial port to open (a name such as ttyUSB0 or a device path)."), QStringLiteral("NAME"));
#endif
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Baud rate: one of %1.").arg(MainWindow::baudRates().join(QStringLiteral(", "))),
        QStringLiteral("RATE"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
        QStringLiteral("Slave address of the BMS, 1..64; for monitoring also a list of packs on the line, "
                       "like 1,3,7 or 1-4,9."), QStringLiteral("IDS"));
    const QCommandLineOption monitorOption(QStringLiteral("monitor"),
        QStringLiteral("Start monitoring once the window is shown."));
    const QCommandLineOption pollOption(QStringLiteral("poll-ms"),
        QStringLiteral("Poll period in milliseconds, for test rigs (default 1000)."), QStringLiteral("MS"));
    parser.addOptions({portOption, baudOption, addressOption, monitorOption, pollOption});
    const QCommandLineOption dataDirOption(QStringLiteral("data-dir"),
        QStringLiteral("Folder for the databases my1.db and my2.db (created if needed)."), QStringLiteral("DIR"));
    parser.addOption(dataDirOption);
    // For the build's own checks: is the icon compiled into this program?
    QCommandLineOption checkIconOption(QStringLiteral("check-icon"));
    checkIconOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(checkIconOption);
    const QCommandLineOption readDatalogOption(QStringLiteral("read-datalog"),
        QStringLiteral("Read records BEGIN to END (1..680) of the BMS's log into my2.db and export them; "
                       "no window is shown. Needs --port and --export."),
        QStringLiteral("BEGIN-END"));
    const QCommandLineOption fastOption(QStringLiteral("fast"),
        QStringLiteral("With --read-datalog: ask for each record as soon as the last one is in. With --write-set: "
                       "send each frame as soon as the last one is acknowledged."));
    const QCommandLineOption exportOption(QStringLiteral("export"),
        QStringLiteral("With --read-datalog: the file the records read are written to."), QStringLiteral("FILE"));
    parser.addOptions({readDatalogOption, fastOption, exportOption});
    const QCommandLineOption readSetOption(QStringLiteral("read-set"),
        QStringLiteral("Read the pack's parameters into a parameter set file and exit (needs --port)."), QStringLiteral("FILE"));
    const QCommandLineOption writeSetOption(QStringLiteral("write-set"),
        QStringLiteral("Write a parameter set file into the pack, read it back and exit (needs --port)."), QStringLiteral("FILE"));
    const QCommandLineOption forceOption(QStringLiteral("force"),
        QStringLiteral("With --write-set: write a set that breaks the plausibility rules or comes from another model."));
    parser.addOptions({readSetOption, writeSetOption, forceOption});
    const QCommandLineOption scanOption(QStringLiteral("scan"),
        QStringLiteral("List the packs on the line: ask IDs FIRST-LAST (given after it, default 1-64) for their "
                       "identity, print ID, model, version and serial a line each, and exit (needs --port)."));
    parser.addOption(scanOption);
    const QCommandLineOption serviceOption(QStringLiteral("service"),
        QStringLiteral("Monitor the packs without a window until stopped (SIGTERM): store every sample and, with a "
                       "broker, publish it to MQTT. Needs --port or --config."));
    const QCommandLineOption configOption(QStringLiteral("config"),
        QStringLiteral("With --service: the settings file (INI keys port, baud, addresses, poll_ms, data_dir, mqtt_url, "
                       "mqtt_user, mqtt_password, mqtt_ca_file, service_id); options given here win."),
        QStringLiteral("FILE"));
    const QCommandLineOption mqttOption(QStringLiteral("mqtt"),
        QStringLiteral("With --service: publish to the broker at mqtt://host[:port] or mqtts://host[:port] "
                       "(user and password only in --config)."),
        QStringLiteral("URL"));
    const QCommandLineOption logFramesOption(QStringLiteral("log-frames"),
        QStringLiteral("With --service: write every frame sent and received to stderr in hexadecimal."));
    parser.addOptions({serviceOption, configOption, mqttOption, logFramesOption});

    if (!parser.parse(withoutToolkitOptions(arguments))) {
        o.outcome = ExitError;
        o.message = parser.errorText();
        return o;
    }
    // addHelpOption also registers --help-all, which parse() leaves to the
    // caller: without this it would fall through and start the window.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        o.outcome = ExitOk;
        o.message = parser.helpText()
            + QStringLiteral("\nThe databases my1.db and my2.db are kept in %1\n")
                  .arg(AppInfo::dataFolder(parser.value(dataDirOption)).path);
        return o;
    }
    if (parser.isSet(versionOption)) {
        o.outcome = ExitOk;
        o.message = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
        return o;
    }
    // "--port --monitor" must not open a port named "--monitor".
    for (const QCommandLineOption *option : {&portOption, &baudOption, &addressOption, &pollOption, &dataDirOption,
                                             &readSetOption, &writeSetOption, &readDatalogOption, &exportOption,
                                             &configOption, &mqttOption}) {
        const QString name = option->names().first();
        if (parser.isSet(*option) && parser.value(*option).startsWith(QLatin1Char('-'))) {
            o.outcome = ExitError;
            o.message = QStringLiteral("--%1 needs a value, not '%2'").arg(name, parser.value(*option));
            return o;
        }
    }
    QStringList positional = parser.positionalArguments();
    if (parser.isSet(scanOption)) {
        // --scan takes an optional range: the one word after the options.
        o.scan = true;
        const QString range = positional.isEmpty() ? QStringLiteral("1-64") : positional.takeFirst();
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d{1,2})-(\\d{1,2})$")).match(range);
        o.scanFirst = m.hasMatch() ? m.captured(1).toInt() : 0;
        o.scanLast = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (o.scanFirst < 1 || o.scanLast > 64 || o.scanFirst > o.scanLast) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --scan range '%1': use FIRST-LAST with 1 <= FIRST <= LAST <= 64").arg(range);
            return o;
        }
    }
    if (!positional.isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("Unexpected argument: %1").arg(positional.first());
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
    o.service = parser.isSet(serviceOption);
    if (parser.isSet(addressOption)) {
        const QString value = parser.value(addressOption);
        const Result read = AddressList::parse(value, &o.addresses);
        if (!read.ok()) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --address '%1': %2; use IDs from 1 to 64, like 5, 1,3,7 or 1-4,9")
                            .arg(value, read.error());
            return o;
        }
        o.address = o.addresses.first();
    }
    if (parser.isSet(pollOption)) {
        bool ok = false;
        const QString value = parser.value(pollOption);
        const int ms = value.toInt(&ok);
        if (!ok || ms < 10 || ms > 60000) {
            o.outcome = ExitError;
            o.message = QStringLiteral("Invalid --poll-ms '%1': use a number from 10 to 60000").arg(value);
            return o;
        }
        o.pollMs = ms;
    }
    o.monitor = parser.isSet(monitorOption);
    if (parser.isSet(dataDirOption)) {
        o.dataDir = parser.value(dataDirOption);
        if (o.dataDir.trimmed().isEmpty()) {
            o.outcome = ExitError;
            o.message = QStringLiteral("--data-dir needs a folder");
            return o;
        }
    }
    o.checkIcon = parser.isSet(checkIconOption);
    if (o.addresses.size() > 1
        && (parser.isSet(readSetOption) || parser.isSet(writeSetOption) || parser.isSet(readDatalogOption))) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-set, --write-set and --read-datalog speak to one pack: give one --address");
        return o;
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
    if (o.scan && (o.port.isEmpty() || o.monitor || o.isParameterJob() || parser.isSet(readDatalogOption))) {
        o.outcome = ExitError;
        o.message = o.port.isEmpty() ? QStringLiteral("--scan needs --port")
                                     : QStringLiteral("--scan goes alone, with --port and --baud");
        return o;
    }
    if (o.isParameterJob() && parser.isSet(readDatalogOption)) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-datalog cannot be used with --read-set or --write-set");
        return o;
    }
    o.configFile = parser.value(configOption);
    o.mqttUrl = parser.value(mqttOption);
    o.logFrames = parser.isSet(logFramesOption);
    if (!o.service && (parser.isSet(configOption) || parser.isSet(mqttOption) || o.logFrames)) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--config, --mqtt and --log-frames go with --service");
        return o;
    }
    if (o.service) {
        for (const QCommandLineOption *other : {&monitorOption, &readDatalogOption, &fastOption, &exportOption,
                                                &readSetOption, &writeSetOption, &forceOption, &scanOption}) {
            if (parser.isSet(*other)) {
                o.outcome = ExitError;
                o.message = QStringLiteral("--%1 cannot be used with --service").arg(other->names().first());
                return o;
            }
        }
        if ((parser.isSet(configOption) && o.configFile.isEmpty()) || (parser.isSet(mqttOption) && o.mqttUrl.isEmpty())) {
            o.outcome = ExitError;
            o.message = QStringLiteral("--config needs a file and --mqtt a URL");
            return o;
        }
        if (o.port.isEmpty() && o.configFile.isEmpty()) {
            o.outcome = ExitError;
            o.message = QStringLiteral("--service needs --port or --config FILE");
            return o;
        }
        return o;
    }
    o.fast = parser.isSet(fastOption);
    o.force = parser.isSet(forceOption);
    o.exportFile = parser.value(exportOption);
    if (o.force && o.writeSet.isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--force goes with --write-set");
        return o;
    }
    if (!parser.isSet(readDatalogOption)) {
        if (parser.isSet(exportOption) || (o.fast && o.writeSet.isEmpty())) {
            o.outcome = ExitError;
            o.message = parser.isSet(exportOption) ? QStringLiteral("--export goes with --read-datalog")
                                                   : QStringLiteral("--fast goes with --read-datalog or --write-set");
        }
        return o;
    }
    const QString range = parser.value(readDatalogOption);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d{1,4})-(\\d{1,4})$")).match(range);
    o.datalogBegin = m.hasMatch() ? m.captured(1).toInt() : 0;
    o.datalogEnd = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (o.datalogBegin < RecordRead::FirstRecord || o.datalogEnd > RecordRead::LastRecord
        || o.datalogBegin > o.datalogEnd) {
        o.outcome = ExitError;
        o.message = QStringLiteral("Invalid --read-datalog '%1': use BEGIN-END with 1 <= BEGIN <= END <= 680")
                        .arg(range);
        return o;
    }
    if (o.port.isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-datalog needs --port");
        return o;
    }
    if (o.exportFile.isEmpty()) {
        o.outcome = ExitError;
        o.message = QStringLiteral("--read-datalog needs --export FILE");
        return o;
    }
    o.readDatalog = true;
    return o;
}
