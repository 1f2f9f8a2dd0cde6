#include "app/parametersetjob.h"

#include "app/mainwindow.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/parametermap.h"
#include "pages/presetparameters.h"

#include <QDateTime>
#include <QMessageBox>
#include <cstdio>

ParameterSetJob::ParameterSetJob(MainWindow &window, Mode mode, const QString &fileName, QObject *parent)
    : QObject(parent), m_window(window), m_mode(mode), m_fileName(fileName)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(StallSeconds * 1000);
    connect(&m_stall, &QTimer::timeout, this, [this] { finish(1, QStringLiteral("no answer from the BMS")); });
    PresetParameters *page = m_window.parameterPage();
    // No window in these runs: the progress box is reported on stderr instead.
    page->waitBox()->setAttribute(Qt::WA_DontShowOnScreen);
    connect(&m_window, &MainWindow::linkOnline, this, &ParameterSetJob::online);
    connect(&m_window, &MainWindow::linkLost, this, [this] {
        // A write sequence reports its own end; otherwise nothing answers.
        if (!m_window.parameterPage()->isWriting())
            finish(1, QStringLiteral("no answer from the BMS"));
    });
    connect(page, &PresetParameters::parametersShown, this, &ParameterSetJob::shown);
    connect(page, &PresetParameters::writeSequenceEnded, this, &ParameterSetJob::sequenceEnded);
}

void ParameterSetJob::progress(const QString &text)
{
    std::fprintf(stderr, "packscope: %s\n", qPrintable(text));
    std::fflush(stderr);
    m_stall.start();
}

void ParameterSetJob::start()
{
    PresetParameters *page = m_window.parameterPage();
    if (m_mode == WriteSet) {
        // The same refusals as the Open set… button; nothing is sent.
        const QString problem = page->openSetFrom(m_fileName, &m_set);
        if (!problem.isEmpty()) {
            finish(1, problem);
            return;
        }
        progress(QStringLiteral("set %1: groups %2").arg(m_fileName, m_set.groups.join(QLatin1Char(' '))));
    }
    m_window.on_monitorBtn_clicked();
    if (!m_window.isMonitoring()) {
        finish(1, QStringLiteral("cannot open the serial port"));
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
    const int frames = Param::writeOrder(page->tickedGroups()).size();
    if (!page->startWrite()) {
        finish(1, QStringLiteral("the set cannot be written"));
        return;
    }
    progress(QStringLiteral("writing %1 frames").arg(frames));
}

void ParameterSetJob::sequenceEnded(bool success)
{
    if (m_done)
        return;
    if (!success) {
        finish(1, QStringLiteral("write failed: %1").arg(m_window.parameterPage()->failureReason()));
        return;
    }
    m_written = true;
    progress(QStringLiteral("every register acknowledged, reading back"));
}

void ParameterSetJob::shown()
{
    if (m_done)
        return;
    PresetParameters *page = m_window.parameterPage();
    if (m_mode == ReadSet) {
        // The fifteen value groups; a saved clock would be stale.
        page->tickGroups(((1u << Param::groupCount()) - 1) & ~(1u << Param::timeSetGroup()));
        const QString problem = page->saveSetTo(m_fileName);
        if (problem.isEmpty())
            finish(0, QStringLiteral("parameters saved to %1").arg(m_fileName));
        else
            finish(1, problem);
        return;
    }
    if (!m_written)
        return; // not yet the read-back
    const QString difference = readBackDifference();
    if (difference.isEmpty())
        finish(0, QStringLiteral("set written and read back"));
    else
        finish(1, QStringLiteral("read-back differs: %1").arg(difference));
}

QString ParameterSetJob::readBackDifference() const
{
    const quint16 *image = liveData().registerImage;
    for (auto it = m_set.values.constBegin(); it != m_set.values.constEnd(); ++it) {
        const Param::Field *f = Param::fieldByName(it.key());
        const Param::Parsed p = Param::parseField(f->scale, it.value());
        if (image[f->reg] != p.value)
            return QStringLiteral("%1 is %2, the set says %3").arg(it.key(), Param::fieldText(f->scale, image[f->reg]), it.value());
    }
    if (m_set.groups.contains(QStringLiteral("TIME_SET"))) {
        const QString clock = Param::clockText(image[Param::ClockHigh], image[Param::ClockLow]);
        const QDateTime t = QDateTime::fromString(clock, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (!t.isValid() || qAbs(t.secsTo(QDateTime::currentDateTime())) > 2)
            return QStringLiteral("BMS_TIME is %1, the PC's time is %2")
                .arg(clock, PresetParameters::formatClock(QDateTime::currentDateTime()));
    }
    return QString();
}

void ParameterSetJob::finish(int exitCode, const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    m_stall.stop();
    if (m_window.isMonitoring())
        m_window.on_monitorBtn_clicked();
    emit finished(exitCode, reason);
}
