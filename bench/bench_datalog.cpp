// How long reading the BMS's whole log (680 records) takes, against bms-sim
// timed like a real 9600-baud line (every byte 11/9600 s on the wire, each
// answer 10 ms after its request): in fast mode (the next read goes out as
// soon as an answer is in) over all 680 records, and at one record a tick
// (the poll period, 1 s) over a shorter range whose time is extrapolated to
// 680 records, unless --full asks for all of them. Prints both figures and
// their ratio.
//
// Usage: bench_datalog [--tick-records N] [--full] [--baud RATE]
#include "app/mainwindow.h"
#include "app/startup.h"
#include "gui/dialogs.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// Reads records first..last; returns the seconds from Start to the last
// answer stored, or -1 when the read did not end within the time allowed.
double timeRead(MainWindow &w, bool fast, int first, int last)
{
    BmsDatalog *page = w.datalogPage();
    page->setFastRead(fast);
    page->setRangeText(QString::number(first), QString::number(last));
    QEventLoop loop;
    bool complete = false;
    const auto ended = QObject::connect(page, &BmsDatalog::readingEnded, &loop, [&](bool c) {
        complete = c;
        loop.quit();
    });
    QTimer::singleShot((last - first + 1) * 3000 + 10000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    page->on_pushButton_clicked();
    loop.exec();
    QObject::disconnect(ended);
    return complete ? clock.elapsed() / 1000.0 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool full = args.contains(QStringLiteral("--full"));
    int tickRecords = 20;
    int baud = 9600;
    if (int i = args.indexOf(QStringLiteral("--tick-records")); i > 0 && i + 1 < args.size())
        tickRecords = qBound(1, args.at(i + 1).toInt(), 680);
    if (int i = args.indexOf(QStringLiteral("--baud")); i > 0 && i + 1 < args.size())
        baud = args.at(i + 1).toInt();
    if (full)
        tickRecords = 680;

    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QTemporaryDir dir;
    if (!Startup::openDatabases(dir.path())) {
        std::fprintf(stderr, "bench_datalog: cannot open the databases\n");
        return 1;
    }
    Dialogs::setHook([](const Dialogs::Request &r, QString *) {
        std::fprintf(stderr, "bench_datalog: box \"%s\": %s\n", qPrintable(r.title), qPrintable(r.text));
        return int(QMessageBox::Ok);
    });

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../bms-sim"),
              {"--byte-time", QString::number(baud)});
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_datalog: bms-sim did not start\n");
        return 1;
    }
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed().mid(7);

    MainWindow w;
    w.setPortName(device);
    w.setBaudRate(baud);
    QEventLoop online;
    QObject::connect(&w, &MainWindow::linkOnline, &online, &QEventLoop::quit);
    QTimer::singleShot(15000, &online, &QEventLoop::quit);
    w.on_monitorBtn_clicked();
    online.exec();
    if (!w.isMonitoring() || !w.datalogPage()->findChild<QWidget *>(QStringLiteral("pushButton"))->isEnabled()) {
        std::fprintf(stderr, "bench_datalog: the simulator did not come online\n");
        return 1;
    }

    std::printf("bms-sim timed like a %d-baud line: %.2f ms a byte, answers 10 ms after the request\n", baud,
                11000.0 / baud);
    std::fflush(stdout);
    const double fast = timeRead(w, true, 1, 680);
    std::printf("fast:        680 records in %7.1f s  (%5.0f ms a record)\n", fast, fast * 1000 / 680);
    std::fflush(stdout);
    const double tick = timeRead(w, false, 1, tickRecords);
    const double tick680 = tick * 680 / tickRecords;
    std::printf("one a tick: %4d records in %7.1f s  (%5.0f ms a record) -> 680 records in %.1f s%s\n", tickRecords,
                tick, tick * 1000 / tickRecords, tick680, full ? "" : " (extrapolated)");
    std::printf("rows stored: %d\n", w.datalogPage()->model()->rowCount());
    if (fast > 0 && tick > 0)
        std::printf("ratio one-a-tick / fast: %.1f\n", tick680 / fast);
    w.on_monitorBtn_clicked();
    sim.write("quit\n");
    sim.waitForFinished(3000);
    return fast > 0 && tick > 0 ? 0 : 1;
}
