#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "app/options.h"
#include "app/quitsignals.h"
#include "app/startup.h"
#include "store/samplequeue.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>

namespace {
void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("packscope"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PACKSCOPE_VERSION));
}
} // namespace

int main(int argc, char *argv[])
{
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

    QApplication app(argc, argv);
    setIdentity();
    // A signal ends the run as closing the window does.
    quitOnSignals();
    // For unattended runs (scripts, tests): every box is written to stderr
    // and answered at once instead of waiting for a click.
    if (qEnvironmentVariableIsSet("PACKSCOPE_ANSWER_DIALOGS")) {
        Dialogs::setHook([](const Dialogs::Request &r, QString *) {
            std::fprintf(stderr, "packscope: box \"%s\": %s\n", qPrintable(r.title), qPrintable(r.text));
            return int(QMessageBox::Ok);
        });
    }
    if (!Startup::openDatabases(QCoreApplication::applicationDirPath()))
        return 1;

    MainWindow window;
    if (!options.port.isEmpty())
        window.setPortName(options.port);
    if (options.baud)
        window.setBaudRate(options.baud);
    if (options.address)
        window.setSlaveAddress(options.address);
    if (options.pollMs)
        window.setPollInterval(options.pollMs);
    window.show();
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
    // An unattended run leaves its link figures behind.
    if (options.monitor)
        std::fprintf(stderr, "packscope: %s\n", qPrintable(window.countersText()));
    return rc;
}
