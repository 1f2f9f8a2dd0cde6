#include "app/servicejob.h"

#include "app/appinfo.h"
#include "app/quitsignals.h"
#include "app/startup.h"
#include "gui/dialogs.h"
#include "model/addresslist.h"
#include "model/monitordata.h"
#include "protocol/frames.h"
#include "publish/mqttpublisher.h"
#include "session/bmssession.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/tablerows.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "packscope: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace

ServiceJob::ServiceJob(const ServiceConfig &config, bool logFrames, QObject *parent)
    : QObject(parent), m_config(config), m_logFrames(logFrames), m_portTimer(new QTimer(this))
{
    m_portTimer->setInterval(PortRetryMs);
    connect(m_portTimer, &QTimer::timeout, this, &ServiceJob::openPort);
}

ServiceJob::~ServiceJob() { Dialogs::clearHook(); }

int ServiceJob::run(const ServiceConfig &config, bool logFrames)
{
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const AppInfo::DataFolder data = AppInfo::dataFolder(config.dataDir);
    const Result folder = AppInfo::prepareDataFolder(data.path);
    if (!folder.ok()) {
        say(folder.error());
        return 1;
    }
    // A database that cannot be opened is a line in the journal, not a box.
    Dialogs::setHook([](const Dialogs::Request &r, QString *) {
        say(QStringLiteral("%1: %2").arg(r.title, r.text.simplified()));
        return int(QMessageBox::Cancel);
    });
    if (!Startup::openDatabases(data.path)) {
        Dialogs::clearHook();
        return 1;
    }
    say(QStringLiteral("history in %1/my1.db").arg(data.path));
    ServiceJob job(config, logFrames);
    return job.exec();
}

int ServiceJob::exec()
{
    m_model = std::make_unique<RecordTableModel>(RecordTable::history());
    m_queue = std::make_unique<SampleQueue>(m_model.get());
    connect(m_queue.get(), &SampleQueue::stateChanged, this, &ServiceJob::onStoreChanged);

    m_session = std::make_unique<BmsSession>();
    SerialLink *link = m_session->link();
    link->setPortName(m_config.port);
    link->setBaudRate(m_config.baud);
    link->setPollInterval(m_config.pollMs);
    m_session->setAddresses(m_config.addresses);
    connect(m_session.get(), &BmsSession::packOnline, this, &ServiceJob::onPackOnline);
    connect(m_session.get(), &BmsSession::packSampleRead, this, &ServiceJob::onPackSample);
    // Also every pack when the port is lost and when the session stops.
    connect(m_session.get(), &BmsSession::packOffline, this, &ServiceJob::onPackOffline);
    connect(m_session.get(), &BmsSession::portLost, this, [this](const QString &port, const QString &reason, bool watching) {
        say(QStringLiteral("port %1 lost: %2%3").arg(port, reason, watching ? QStringLiteral("; waiting for it") : QString()));
        if (!watching && !m_stopping)
            m_portTimer->start();
    });
    connect(m_session.get(), &BmsSession::portRecovered, this,
            [](const QString &port) { say(QStringLiteral("port %1 back").arg(port)); });
    connect(m_session.get(), &BmsSession::packNotAnswering, this, [](quint8 id) {
        say(QStringLiteral("pack %1 does not answer: nothing on the line answers to ID %1 (is the ID right, the pack "
                           "connected?)")
                .arg(id));
    });
    connect(m_session.get(), &BmsSession::cycleChanged, this, [this] {
        say((m_session->isCycleSlowedByPack() ? QStringLiteral("a pack answers late: each pack now sampled every %1 s")
                                               : QStringLiteral("the packs answer in time: each pack sampled every %1 s"))
                .arg(m_session->cycleMs() / 1000.0, 0, 'f', 2));
    });
    if (m_logFrames) {
        connect(m_session.get(), &BmsSession::frameSent, this,
                [](const QByteArray &frame) { say(QStringLiteral("OUT %1").arg(Frames::hexText(frame))); });
        connect(m_session.get(), &BmsSession::frameTaken, this,
                [](const QByteArray &bytes) { say(QStringLiteral("IN  %1").arg(Frames::hexText(bytes))); });
    }

    if (!m_config.mqttUrl.isEmpty()) {
        m_publisher = new MqttPublisher(this);
        // Checked with the settings already; a CA file gone since is said here.
        const Result broker = m_publisher->setBroker(m_config.mqttUrl, m_config.mqttUser, m_config.mqttPassword,
                                                     m_config.mqttCaFile, m_config.serviceId);
        if (!broker.ok()) {
            say(broker.error());
            return 2;
        }
        connect(m_publisher, &MqttPublisher::logLine, this, &say);
        connect(m_publisher, &MqttPublisher::stopped, this, [] { QCoreApplication::exit(0); });
        say(QStringLiteral("publishing to %1 as %2").arg(m_config.mqttUrl, m_config.serviceId));
        m_publisher->start();
    }

    quitOnSignals([this](const char *name) { stop(QString::fromLatin1(name)); });
    say(QStringLiteral("monitoring %1 at %2 baud, ID %3, every %4 ms")
            .arg(m_config.port)
            .arg(m_config.baud)
            .arg(AddressList::text(m_config.addresses))
            .arg(m_config.pollMs));
    openPort();
    const int code = QCoreApplication::exec();
    if (m_session->isMonitoring())
        m_session->stop();
    m_queue->retry();
    if (m_queue->waiting() > 0)
        say(QStringLiteral("%1 sample(s) could not be stored").arg(m_queue->waiting()));
    return code;
}

void ServiceJob::openPort()
{
    const Result started = m_session->start();
    if (started.ok()) {
        if (!m_portError.isEmpty())
            say(QStringLiteral("port %1 opened").arg(m_config.port));
        m_portError.clear();
        m_portTimer->stop();
        return;
    }
    // The adapter may come later: tried again, said once per reason.
    if (started.error() != m_portError)
        say(QStringLiteral("cannot open the port %1: %2; trying again every %3 s")
                .arg(m_config.port, started.error())
                .arg(PortRetryMs / 1000));
    m_portError = started.error();
    m_portTimer->start();
}

void ServiceJob::stop(const QString &why)
{
    if (m_stopping)
        return;
    m_stopping = true;
    say(QStringLiteral("stopping (%1)").arg(why));
    m_portTimer->stop();
    // The answer on its way is stored (and published) first.
    m_session->stopAfterAnswer([this] {
        if (m_publisher && m_publisher->isRunning())
            m_publisher->stop(); // quits once the broker has the goodbyes
        else
            QCoreApplication::exit(0);
    });
}

void ServiceJob::onPackOnline(quint8 id)
{
    const BmsLiveData &live = m_session->packData(id);
    const QString serial = serialText(live);
    if (m_online.value(id) != serial || !m_online.contains(id))
        say(QStringLiteral("pack %1 online: %2 %3 %4").arg(id).arg(modelText(live), versionText(live), serial));
    if (const quint8 other = m_session->packSharingSerial(id))
        say(QStringLiteral("pack %1 reports the same serial as pack %2 (%3): the history and the broker cannot tell "
                           "them apart")
                .arg(id)
                .arg(other)
                .arg(serial));
    m_online.insert(id, serial);
    if (m_publisher)
        m_publisher->packOnline(id, live);
}

void ServiceJob::onPackSample(quint8 id)
{
    const BmsLiveData &live = m_session->packData(id);
    const QString time = m_session->sampleTime();
    m_queue->submit(HistoryRow::values(live, time));
    if (m_publisher)
        m_publisher->sample(id, live, time);
}

void ServiceJob::onPackOffline(quint8 id)
{
    if (!m_online.contains(id))
        return;
    const QString serial = m_online.take(id);
    // The session says so for every pack also when the port is lost.
    if (!m_stopping)
        say(QStringLiteral("pack %1 offline: %2 %3")
                .arg(id)
                .arg(serial, m_session->link()->isWaitingForPort() || !m_session->isMonitoring()
                                 ? QStringLiteral("is out of reach with the port")
                                 : QStringLiteral("does not answer")));
    if (m_publisher)
        m_publisher->packOffline(id, serial);
}

void ServiceJob::onStoreChanged()
{
    const int fault = int(m_queue->fault());
    if (fault == m_storeFault)
        return;
    m_storeFault = fault;
    if (fault == int(SampleQueue::Fault::None))
        say(QStringLiteral("history database writable again"));
    else
        say(QStringLiteral("history not stored: %1; %2 sample(s) waiting").arg(m_queue->faultText()).arg(m_queue->waiting()));
}
