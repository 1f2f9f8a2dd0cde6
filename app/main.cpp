#include "gui/dialogs.h"
#include "app/appinfo.h"
#include "app/datalogjob.h"
#include "app/mainwindow.h"
#include "app/memorytrim.h"
#include "app/options.h"
#include "app/screenshotrig.h"
#include "app/parametersetjob.h"
#ifdef PACKSCOPE_MQTT
#include "app/serviceconfig.h"
#include "app/servicejob.h"
#endif
#include "session/bmssession.h"
#include "session/busscanner.h"
#include "app/quitsignals.h"
#include "app/startup.h"
#include "store/samplequeue.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {
// The command-line jobs speak to scripts: one line per step on stderr.
// The debug lines of the window's code and the notices of the platform
// plugin that such a run uses without a display would only be noise there.
void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (type == QtWarningMsg
        && ((context.category && qstrncmp(context.category, "qt.", 3) == 0)
            || text.startsWith(QLatin1String("This plugin does not support"))
            || text.startsWith(QLatin1String("QStandardPaths: "))))
        return;
    std::fprintf(stderr, "packscope: %s\n", qPrintable(text));
}

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("packscope"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PACKSCOPE_VERSION));
}
// --read-set and --write-set: the session alone, no window and no display.
int runParameterJob(int argc, char *argv[], const Options &options)
{
    QCoreApplication app(argc, argv);
    setIdentity();
    qInstallMessageHandler(quietMessages);
    BmsSession session;
    SerialLink *link = session.link();
    // The command line and the defaults; never the window's last choices.
    link->setPortName(options.port);
    link->setBaudRate(options.baud ? options.baud : 115200);
    link->setAddress(quint8(options.address ? options.address : 1));
    if (options.pollMs)
        link->setPollInterval(options.pollMs);
    const bool reading = !options.readSet.isEmpty();
    ParameterSetJob job(session, reading ? ParameterSetJob::ReadSet : ParameterSetJob::WriteSet,
                        reading ? options.readSet : options.writeSet, {options.fast, options.force});
    int exitCode = 1;
    QObject::connect(&job, &ParameterSetJob::finished, [&exitCode](int code, const QString &reason) {
        std::fprintf(stderr, "packscope: %s\n", qPrintable(reason));
        exitCode = code;
        QCoreApplication::exit(code);
    });
    // Stopped from outside, a write still says how far it got.
    quitOnSignals([&job](const char *name) { job.interrupt(QStringLiteral("stopped by %1").arg(QLatin1String(name))); });
    QTimer::singleShot(0, &job, &ParameterSetJob::start);
    app.exec();
    return exitCode;
}
// --scan: the packs on the line, a line each on stdout in ID order.
int runScanJob(int argc, char *argv[], const Options &options)
{
    QCoreApplication app(argc, argv);
    setIdentity();
    qInstallMessageHandler(quietMessages);
    const int baud = options.baud ? options.baud : 115200;
    BusScanner scanner;
    std::fprintf(stderr, "packscope: asking IDs %d-%d on %s at %d baud\n", options.scanFirst, options.scanLast,
                 qPrintable(options.port), baud);
    QObject::connect(&scanner, &BusScanner::asked, [](int id, const BusScanner::Pack *pack) {
        if (pack)
            std::fprintf(stderr, "packscope: ID %d answered: %s %s\n", id, qPrintable(pack->model),
                         qPrintable(pack->serial));
    });
    QObject::connect(&scanner, &BusScanner::finished, &app, &QCoreApplication::quit);
    quitOnSignals([&scanner](const char *) {
        scanner.stop();
        QCoreApplication::quit();
    });
    const Result started = scanner.start(options.port, baud, options.scanFirst, options.scanLast);
    if (!started.ok()) {
        std::fprintf(stderr, "packscope: cannot open the serial port %s: %s\n", qPrintable(options.port),
                     qPrintable(started.error()));
        return 1;
    }
    app.exec();
    for (const BusScanner::Pack &pack : scanner.found())
        std::fprintf(stdout, "%d\t%s\t%s\t%s\n", pack.id, qPrintable(pack.model), qPrintable(pack.version),
                     qPrintable(pack.serial));
    std::fflush(stdout);
    if (!scanner.result().ok()) {
        std::fprintf(stderr, "packscope: the port %s was lost: %s\n", qPrintable(options.port),
                     qPrintable(scanner.result().error()));
        return 1;
    }
    if (scanner.found().isEmpty()) {
        std::fprintf(stderr, "packscope: no pack answered at IDs %d-%d on %s at %d baud: check the baud rate and the wiring\n",
                     options.scanFirst, options.scanLast, qPrintable(options.port), baud);
        return 1;
    }
    std::fprintf(stderr, "packscope: %d pack(s) found\n", int(scanner.found().size()));
    return 0;
}

// --read-datalog: the session and the databases, no window and no display.
int runDatalogJob(int argc, char *argv[], const Options &options)
{
    QCoreApplication app(argc, argv);
    setIdentity();
    qInstallMessageHandler(quietMessages);
    const AppInfo::DataFolder data = AppInfo::dataFolder(options.dataDir);
    const Result folder = AppInfo::prepareDataFolder(data.path);
    if (!folder.ok()) {
        std::fprintf(stderr, "packscope: %s\n", qPrintable(folder.error()));
        return 1;
    }
    return DatalogJob::run(options, data.path);
}
#ifdef PACKSCOPE_MQTT
// --service: the unattended monitor, no window and no display.
int runServiceJob(int argc, char *argv[], const Options &options)
{
    QCoreApplication app(argc, argv);
    setIdentity();
    qInstallMessageHandler(quietMessages);
    // Settings that cannot be taken are bad usage, as a bad option is.
    ServiceConfig config;
    Result taken = options.configFile.isEmpty() ? Result() : config.read(options.configFile);
    if (taken.ok())
        taken = config.apply(options);
    if (!taken.ok()) {
        std::fprintf(stderr, "packscope: %s\n", qPrintable(taken.error()));
        return 2;
    }
    trimFreedMemoryEveryMinute(&app);
    return ServiceJob::run(config, options.logFrames);
}
#endif
} // namespace

int main(int argc, char *argv[])
{
    AppInfo::initResources();
    // The command line is read before any window system is touched, so that
    // --help, --version and bad values work on a machine without a display.
    Options options;
    {
        QCoreApplication probe(argc, argv);
        setIdentity();
        options = Options::parse(probe.arguments());
    }
    if (options.outcome == Options::ExitOk) {
        std::fprintf(stdout, "%s\n", qPrintable(options.message));
        return 0;
    }
    if (options.outcome == Options::ExitError) {
        std::fprintf(stderr, "packscope: %s\n", qPrintable(options.message));
        return 2;
    }
    if (options.checkIcon) {
        QCoreApplication probe(argc, argv);
        QString report;
        const bool ok = AppInfo::checkIcon(&report);
        std::fprintf(ok ? stdout : stderr, "%s\n", qPrintable(report));
        return ok ? 0 : 1;
    }

    // The command line's jobs show no window and need no display.
    if (options.isParameterJob())
        return runParameterJob(argc, argv, options);
    if (options.readDatalog)
        return runDatalogJob(argc, argv, options);
    if (options.scan)
        return runScanJob(argc, argv, options);
    if (options.service) {
#ifdef PACKSCOPE_MQTT
        return runServiceJob(argc, argv, options);
#else
        std::fprintf(stderr, "packscope: --service is not part of this build\n");
        return 2;
#endif
    }
    // A run that names its port is a script's: it speaks in its own lines.
    if (options.isScripted())
        qInstallMessageHandler(quietMessages);
#ifdef Q_OS_WIN
    // packscope.exe is a console program, so that the command line's jobs
    // and --help print where they were started. The window started from the
    // Start menu or Explorer got a console of its own, which nobody reads:
    // it is let go (a console shared with a command prompt stays).
    if (!options.isScripted()) {
        DWORD processes[2];
        if (::GetConsoleProcessList(processes, 2) == 1)
            ::FreeConsole();
    }
#endif
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a display the toolkit would abort with a page of its own.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "packscope: no display to show the window on: run it on a desktop, set "
                             "QT_QPA_PLATFORM=offscreen to run it unseen, or use a command-line mode "
                             "(--read-set, --write-set, --read-datalog; see --help)\n");
        return 2;
    }
#endif
    QApplication app(argc, argv);
    setIdentity();
    // Beside the program when it may write there, else the user's data
    // folder; --data-dir overrides both. A folder that cannot be made shows
    // up as the database box below.
    const AppInfo::DataFolder data = AppInfo::dataFolder(options.dataDir);
    const Result folder = AppInfo::prepareDataFolder(data.path);
    if (!folder.ok()) {
        std::fprintf(stderr, "packscope: %s\n", qPrintable(folder.error()));
        if (!options.isScripted())
            Dialogs::message(nullptr, QMessageBox::Critical, QStringLiteral("PackScope"), folder.error());
        return 1;
    }
    // A signal ends the run as closing the window does.
    quitOnSignals();
    // For unattended runs (scripts, tests), which have nobody to click:
    // every box is written to stderr and answered at once.
    if (qEnvironmentVariableIsSet("PACKSCOPE_ANSWER_DIALOGS")) {
        Dialogs::setHook([](const Dialogs::Request &r, QString *) {
            std::fprintf(stderr, "packscope: box \"%s\": %s\n", qPrintable(r.title), qPrintable(r.text));
            return int(QMessageBox::Ok);
        });
    }
    // Every window of the tool, boxes included, shows the battery icon. A
    // Qt without its icon reader (a Windows build deployed without the ico
    // plugin) cannot read it: the windows then keep the icon that Windows
    // takes from the program's own resource, rather than none.
    const QIcon icon(AppInfo::iconPath());
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
    // Ties the windows to the installed menu entry (packscope.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral("packscope"));
    if (!Startup::openDatabases(data.path))
        return 1;

    MainWindow window;
    window.setDataFolder(data.path);
    // The last choices belong to the window a person opens: they come back
    // and are kept when monitoring starts and when the window closes. A run
    // whose command line names the port (--monitor, a job) takes the command
    // line and the defaults (115200 baud, ID 1), and saves nothing: a script
    // never talks to the pack the last window chose, nor changes what the
    // next window shows.
    QSettings settings(QStringLiteral("packscope"), QStringLiteral("packscope"));
    if (!options.isScripted()) {
        window.restoreSettings(settings);
        QObject::connect(&window, &MainWindow::monitoringChanged, &window, [&](bool on) {
            if (on)
                window.saveSettings(settings);
        });
    }
    window.applyLinkOptions(options);
    window.show();
    trimFreedMemoryEveryMinute(&app);
    ScreenshotRig::startIfAsked(&window);
    if (options.monitor)
        QTimer::singleShot(0, &window, &MainWindow::on_monitorBtn_clicked);
    // An unattended run reports each change of the history store's fault on
    // stderr, as the window's log and status bar do.
    if (options.monitor) {
        int lastFault = int(SampleQueue::Fault::None);
        QObject::connect(window.historyQueue(), &SampleQueue::stateChanged, &window, [&window, lastFault]() mutable {
            const int fault = int(window.historyQueue()->fault());
            if (fault == lastFault)
                return;
            lastFault = fault;
            const QString text = window.storeText();
            std::fprintf(stderr, "packscope: %s\n",
                         qPrintable(text.isEmpty() ? QStringLiteral("History database writable again") : text));
        });
    }
    const int rc = app.exec();
    if (!options.isScripted())
        window.saveSettings(settings);
    // An unattended run leaves its link figures behind.
    if (options.monitor)
        std::fprintf(stderr, "packscope: %s\n", qPrintable(window.countersText()));
    return rc;
}
