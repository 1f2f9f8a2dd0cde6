#pragma once

#include "app/serviceconfig.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class BmsSession;
class MqttPublisher;
class QTimer;
class RecordTableModel;
class SampleQueue;

// `packscope --service`: the unattended monitor, for a system service. No
// window and no display: the session polls the packs at the configured
// IDs, every sample goes into the history table as the window stores it
// (HistoryRow::values through a SampleQueue, so a database fault loses
// none), and, with a broker, to MQTT (MqttPublisher). A lost adapter is
// watched for and monitoring resumes by itself; a port missing at the start
// is tried again every few seconds.
//
// It speaks to the journal: one line on stderr per change of state (a pack
// online or offline, the port lost or back, the broker connected or not,
// the history's database failing or writable again), the frames only with
// --log-frames. SIGTERM, SIGINT and SIGHUP stop it in order: the packs and
// the service say "offline" on MQTT, and the databases close.
class ServiceJob : public QObject
{
    Q_OBJECT
public:
    ServiceJob(const ServiceConfig &config, bool logFrames, QObject *parent = nullptr);
    ~ServiceJob() override;

    // Opens the data folder and the databases and runs until stopped; needs
    // an application object. Exit code 0 after a stop by a signal, 1 when
    // the data folder or a database cannot be used.
    static int run(const ServiceConfig &config, bool logFrames);

    // Runs on databases that are open already, until stop().
    int exec();
    void stop(const QString &why);

    static constexpr int PortRetryMs = 5000;

private:
    void openPort();
    void onPackOnline(quint8 id);
    void onPackSample(quint8 id);
    void onPackOffline(quint8 id);
    void onStoreChanged();

    ServiceConfig m_config;
    bool m_logFrames;
    std::unique_ptr<BmsSession> m_session;
    std::unique_ptr<RecordTableModel> m_model;
    std::unique_ptr<SampleQueue> m_queue;
    MqttPublisher *m_publisher = nullptr;
    QTimer *m_portTimer;
    QMap<quint8, QString> m_online; // pack ID -> serial, while it answers
    QString m_portError;
    int m_storeFault = 0;
    bool m_stopping = false;
};
