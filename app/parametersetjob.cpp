#include "app/parametersetjob.h"

#include "app/appinfo.h"
#include "app/mainwindow.h"
#include "model/monitordata.h"
#include "model/parametermap.h"
#include "pages/presetparameters.h"

#include <QMessageBox>
#include <cstdio>

ParameterSetJob::ParameterSetJob(MainWindow &window, Mode mode, const QString &fileName, Settings settings,
                                 QObject *parent)
    : QObject(parent), m_window(window), m_mode(mode), m_fileName(fileName), m_settings(settings)
{
    PresetParameters *page = m_window.parameterPage();
    // No window in these runs: the progress box is reported on stderr instead.
    page->waitBox()->setAttribute(Qt::WA_DontShowOnScreen);
    page->setFastWrite(settings.fast);
    // Every box is answered at once. What a box says reaches stderr once,
    // as the job's reason: a refused set or field ends the job, and the
    // end of a write is reported by the job itself.
    m_previousHook = Dialogs::currentHook();
    Dialogs::setHook([this](const Dialogs::Request &r, QString *) {
        m_lastBox = r.text;
        return int(QMessageBox::Ok);
    });
    // Nobody is there to answer "Write anyway": the command line decides.
    page->setConfirmHandler([this](const PresetParameters::Concerns &concerns) {
        const QStringList lines = concerns.lines(true);
        if (m_settings.force) {
            for (const QString &line : lines)
                progress(QStringLiteral("written anyway (--force): %1").arg(line));
            return true;
        }
        finish(1, QStringLiteral("%1; nothing was sent (--force writes it anyway)").arg(lines.join(QStringLiteral("; "))));
        return false;
    });
    connect(&m_window, &MainWindow::linkOnline, this, &ParameterSetJob::online);
    connect(&m_window, &MainWindow::linkLost, this, [this] {
        // A write reports its own end, the port's loss included.
        if (m_window.parameterWriter()->busy())
            return;
        const SerialLink *link = m_window.link();
        if (link->isWaitingForPort() || !link->isMonitoring())
            finish(1, QStringLiteral("the port %1 was lost: %2").arg(link->portName(), link->errorString()));
        else
            finish(1, silentText());
    });
    connect(page, &PresetParameters::parametersShown, this, &ParameterSetJob::shown);
    connect(m_window.parameterWriter(), &ParameterWriter::ended, this, &ParameterSetJob::writeEnded);
    connect(m_window.parameterWriter(), &ParameterWriter::progress, this, [this](int done, int total) {
        // A line per group would do for people, but a script that watches
        // a whole set at the normal pace sees the sequence alive.
        if (done == total)
            progress(QStringLiteral("every register acknowledged, reading back"));
    });
}

ParameterSetJob::~ParameterSetJob() { Dialogs::setHook(m_previousHook); }

QString ParameterSetJob::silentText() const
{
    const SerialLink *link = m_window.link();
    return QStringLiteral("no answer from the BMS at ID %1 on %2 at %3 baud: check the ID, the baud rate and the wiring")
        .arg(link->address())
        .arg(link->portName())
        .arg(link->baudRate());
}

void ParameterSetJob::progress(const QString &text)
{
    std::fprintf(stderr, "packscope: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void ParameterSetJob::start()
{
    PresetParameters *page = m_window.parameterPage();
    if (m_mode == ReadSet) {
        // Found out before the pack is read, not after.
        const QString problem = AppInfo::writableFileProblem(m_fileName);
        if (!problem.isEmpty()) {
            finish(1, QStringLiteral("cannot save %1: %2").arg(m_fileName, problem));
            return;
        }
    }
    if (m_mode == WriteSet) {
        // The same refusals as the Open set… button; nothing is sent.
        ParamSet::Set set;
        const QString problem = page->openSetFrom(m_fileName, &set);
        if (!problem.isEmpty()) {
            finish(1, problem);
            return;
        }
        progress(QStringLiteral("set %1: groups %2").arg(m_fileName, set.groups.join(QLatin1Char(' '))));
    }
    m_window.on_monitorBtn_clicked();
    if (!m_window.isMonitoring()) {
        finish(1, QStringLiteral("cannot open the serial port %1: %2").arg(m_window.link()->portName(), m_window.link()->errorString()));
        return;
    }
    progress(QStringLiteral("monitoring started, waiting for the BMS"));
}

void ParameterSetJob::online()
{
    if (m_online || m_done)
        return;
    m_online = true;
    progress(QStringLiteral("BMS online: %1 %2").arg(modelText(), serialText()));
    PresetParameters *page = m_window.parameterPage();
    if (m_mode == ReadSet) {
        page->on_collect_clicked();
        progress(QStringLiteral("reading the parameters"));
        return;
    }
    const int registers = ParameterWriter::registerCount(page->tickedGroups());
    progress(QStringLiteral("reading the pack's parameters, then writing %1 registers").arg(registers));
    if (!page->startWrite() && !m_done)
        finish(1, m_lastBox.isEmpty() ? QStringLiteral("the set cannot be written") : m_lastBox);
}

void ParameterSetJob::shown()
{
    if (m_done || m_mode != ReadSet)
        return;
    PresetParameters *page = m_window.parameterPage();
    // The fifteen value groups; a saved clock would be stale.
    page->tickGroups(((1u << Param::groupCount()) - 1) & ~(1u << Param::timeSetGroup()));
    const QString problem = page->saveSetTo(m_fileName);
    if (problem.isEmpty())
        finish(0, QStringLiteral("parameters saved to %1").arg(m_fileName));
    else
        finish(1, problem);
}

void ParameterSetJob::writeEnded(const ParameterWriter::Report &report)
{
    if (report.success())
        finish(0, QStringLiteral("set written and read back"));
    else
        finish(1, QStringLiteral("write failed: %1").arg(report.text(true)));
}

void ParameterSetJob::interrupt(const QString &what)
{
    if (m_done)
        return;
    ParameterWriter *writer = m_window.parameterWriter();
    if (writer->busy())
        writer->stop(ParameterWriter::End::Stopped, what); // reports through writeEnded
    else
        finish(1, what);
}

void ParameterSetJob::finish(int exitCode, const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    if (m_window.isMonitoring())
        m_window.on_monitorBtn_clicked();
    emit finished(exitCode, reason);
}
