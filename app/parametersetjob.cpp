#include "app/parametersetjob.h"

#include "app/appinfo.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/parametermap.h"
#include "model/parameterset.h"
#include "model/result.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

ParameterSetJob::ParameterSetJob(BmsSession &session, Mode mode, const QString &fileName, Settings settings,
                                 QObject *parent)
    : QObject(parent), m_session(session), m_mode(mode), m_fileName(fileName), m_settings(settings)
{
    ParameterWriter *writer = m_session.writer();
    writer->setFast(settings.fast);
    connect(&m_session, &BmsSession::online, this, &ParameterSetJob::online);
    connect(&m_session, &BmsSession::offline, this, &ParameterSetJob::linkGone);
    connect(&m_session, &BmsSession::portLost, this, [this](const QString &port, const QString &reason) {
        // A write reports the loss in its own words and how far it got.
        if (m_session.writer()->busy())
            m_session.writer()->stop(ParameterWriter::End::LinkLost,
                                     QStringLiteral("the port %1 was lost: %2").arg(port, reason));
        else
            finish(1, QStringLiteral("the port %1 was lost: %2").arg(port, reason));
    });
    connect(&m_session, &BmsSession::parametersRead, this, &ParameterSetJob::parametersRead);
    connect(writer, &ParameterWriter::ended, this, &ParameterSetJob::writeEnded);
    connect(writer, &ParameterWriter::progress, this, [this](int done, int total) {
        if (done == total)
            progress(QStringLiteral("every register acknowledged, reading back"));
    });
}

void ParameterSetJob::progress(const QString &text)
{
    std::fprintf(stderr, "packscope: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void ParameterSetJob::start()
{
    if (m_mode == ReadSet) {
        // Found out before the pack is read, not after.
        const Result writable = AppInfo::checkWritable(m_fileName);
        if (!writable.ok()) {
            finish(1, QStringLiteral("cannot save %1: %2").arg(m_fileName, writable.error()));
            return;
        }
    } else {
        // Refused before anything is sent, as the page's Open set… does.
        ParamSet::Problem problem;
        const ParamSet::Set set = ParamSet::load(m_fileName, &problem);
        if (!problem.isNull()) {
            finish(1, QStringLiteral("Parameter set %1 refused (%2): %3")
                          .arg(QFileInfo(m_fileName).fileName(), problem.where, problem.what));
            return;
        }
        m_request.mask = ParamSet::groupMask(set);
        // A stored time would be stale: the clock is set from the PC's.
        m_request.clockFromPc = m_request.mask & (1u << Param::timeSetGroup());
        m_request.setModel = set.model;
        for (auto it = set.values.constBegin(); it != set.values.constEnd(); ++it) {
            const Param::Field *f = Param::fieldByName(it.key());
            m_request.values.insert(f->reg, Param::parseField(f->scale, it.value()).value);
        }
        if (m_request.clockFromPc) {
            m_request.values.insert(Param::ClockHigh, 0);
            m_request.values.insert(Param::ClockLow, 0);
        }
        progress(QStringLiteral("set %1: groups %2").arg(m_fileName, set.groups.join(QLatin1Char(' '))));
    }
    const Result started = m_session.start();
    if (!started.ok()) {
        finish(1, QStringLiteral("cannot open the serial port %1: %2").arg(m_session.link()->portName(), started.error()));
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
    if (m_mode == ReadSet) {
        m_session.readParameters(m_settings.fast);
        progress(QStringLiteral("reading the parameters"));
        return;
    }
    progress(QStringLiteral("reading the pack's parameters, then writing %1 registers")
                 .arg(ParameterWriter::registerCount(m_request.mask)));
    if (!m_session.writer()->request(m_request, [this](const ParameterWriter::Concerns &c) { return confirm(c); }))
        finish(1, QStringLiteral("the set holds nothing to write"));
}

bool ParameterSetJob::confirm(const ParameterWriter::Concerns &concerns)
{
    // Nobody is there to answer "Write anyway": the command line decides.
    const QStringList lines = concerns.lines(true);
    if (m_settings.force) {
        for (const QString &line : lines)
            progress(QStringLiteral("written anyway (--force): %1").arg(line));
        return true;
    }
    finish(1, QStringLiteral("%1; nothing was sent (--force writes it anyway)").arg(lines.join(QStringLiteral("; "))));
    return false;
}

void ParameterSetJob::parametersRead()
{
    if (m_done || m_mode != ReadSet)
        return;
    // The fifteen value groups; a saved clock would be stale.
    ParamSet::Set set = ParamSet::fromImage(liveData().registerImage, (1u << Param::groupCount()) - 1);
    set.model = modelText();
    set.serial = serialText();
    set.saved = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QSaveFile file(m_fileName);
    Result saved = SafeSave::open(file);
    if (saved.ok())
        saved = SafeSave::write(file, ParamSet::serialize(set));
    if (saved.ok())
        saved = SafeSave::commit(file);
    if (saved.ok())
        finish(0, QStringLiteral("parameters saved to %1").arg(m_fileName));
    else
        finish(1, QStringLiteral("cannot save %1: %2").arg(m_fileName, saved.error()));
}

void ParameterSetJob::writeEnded(const ParameterWriter::Report &report)
{
    if (report.success())
        finish(0, QStringLiteral("set written and read back"));
    else if (report.end != ParameterWriter::End::Cancelled) // cancelled: confirm() said why
        finish(1, QStringLiteral("write failed: %1").arg(report.text(true)));
}

void ParameterSetJob::linkGone()
{
    ParameterWriter *writer = m_session.writer();
    if (writer->busy()) {
        writer->stop(ParameterWriter::End::LinkLost, QStringLiteral("the BMS stopped answering"));
        return;
    }
    const SerialLink *link = m_session.link();
    finish(1, QStringLiteral("no answer from the BMS at ID %1 on %2 at %3 baud: check the ID, the baud rate and the wiring")
                  .arg(link->address())
                  .arg(link->portName())
                  .arg(link->baudRate()));
}

void ParameterSetJob::interrupt(const QString &what)
{
    if (m_done)
        return;
    ParameterWriter *writer = m_session.writer();
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
    ParameterWriter *writer = m_session.writer();
    if (writer->busy())
        writer->stop(ParameterWriter::End::Stopped, reason);
    if (m_session.isMonitoring())
        m_session.stop();
    emit finished(exitCode, reason);
}
