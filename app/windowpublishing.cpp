#include "app/windowpublishing.h"

#include "model/monitordata.h"
#include "model/valueformat.h"
#include "publish/mqttpublisher.h"
#include "session/bmssession.h"

#include <QEventLoop>
#include <QLabel>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>

WindowPublishing::WindowPublishing(BmsSession *session, QWidget *window)
    : QObject(window), m_session(session), m_window(window), m_label(new QLabel(window))
{
    m_label->setObjectName(QStringLiteral("mqttLabel"));
    m_label->setContentsMargins(12, 0, 0, 0); // apart from the counters beside it
    m_label->hide();
    connect(session, &BmsSession::packOnline, this, [this](quint8 id) {
        if (m_publisher)
            m_publisher->packOnline(id, m_session->packData(id));
    });
    connect(session, &BmsSession::packSampleRead, this, [this](quint8 id) {
        if (m_publisher)
            m_publisher->sample(id, m_session->packData(id), m_session->sampleTime());
    });
    connect(session, &BmsSession::packOffline, this, [this](quint8 id) {
        if (m_publisher)
            m_publisher->packOffline(id, serialText(m_session->packData(id)));
    });
}

WindowPublishing::~WindowPublishing() = default;

QString WindowPublishing::clientId()
{
    return QStringLiteral("packscope-%1-window").arg(QSysInfo::machineHostName());
}

void WindowPublishing::setLanguage(Language language)
{
    m_language = language;
    updateLabel();
}

void WindowPublishing::openDialog()
{
    if (m_dialog) {
        m_dialog->raise();
        return;
    }
    m_dialog = new MqttDialog(m_window, m_language, m_settings,
                              [this](const MqttDialog::Settings &s) { return apply(s); });
    m_dialog->setObjectName(QStringLiteral("mqttDialog"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->open();
}

Result WindowPublishing::apply(const MqttDialog::Settings &settings)
{
    if (!settings.enabled) {
        stopPublisher(3000);
        m_settings = settings;
        m_settings.enabled = false;
        updateLabel();
        return Result();
    }
    auto *publisher = new MqttPublisher(this);
    const Result taken = publisher->setBroker(settings.url, settings.user, settings.password, settings.caFile, clientId());
    if (!taken.ok()) {
        delete publisher;
        return taken;
    }
    stopPublisher(3000);
    m_settings = settings;
    m_publisher = publisher;
    connect(publisher, &MqttPublisher::statusChanged, this, &WindowPublishing::updateLabel);
    publisher->start();
    // The packs already online are announced now; the rest as they come.
    for (const quint8 id : m_session->addresses())
        if (m_session->isPackOnline(id))
            publisher->packOnline(id, m_session->packData(id));
    updateLabel();
    return Result();
}

void WindowPublishing::stopPublisher(int graceMs)
{
    if (!m_publisher)
        return;
    // The old publisher says goodbye on its own and goes once it has.
    MqttPublisher *old = m_publisher;
    m_publisher = nullptr;
    disconnect(old, &MqttPublisher::statusChanged, this, nullptr);
    connect(old, &MqttPublisher::stopped, old, &QObject::deleteLater);
    old->stop(graceMs);
}

void WindowPublishing::stop(int ms)
{
    if (!m_publisher || !m_publisher->isRunning())
        return;
    QEventLoop loop;
    connect(m_publisher, &MqttPublisher::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms + 500, &loop, &QEventLoop::quit);
    m_publisher->stop(ms);
    if (m_publisher->isRunning())
        loop.exec();
}

void WindowPublishing::updateLabel()
{
    if (!m_publisher) {
        m_label->clear();
        m_label->hide();
        return;
    }
    const int lang = languageIndex(m_language);
    QString text;
    if (m_publisher->isConnected()) {
        text = m_publisher->queued() == 0
                   ? pickText(lang, QStringLiteral("MQTT：已连接"), QStringLiteral("MQTT: connected"))
                   : pickText(lang, QStringLiteral("MQTT：已连接，%1 条待发"), QStringLiteral("MQTT: connected, %1 queued"))
                         .arg(m_publisher->queued());
    } else {
        const QString error = m_publisher->lastError().isEmpty() ? pickText(lang, QStringLiteral("正在连接"), QStringLiteral("connecting"))
                                                                 : m_publisher->lastError();
        text = pickText(lang, QStringLiteral("MQTT：未连接（%1），%2 条待发"), QStringLiteral("MQTT: not connected (%1), %2 queued"))
                   .arg(error)
                   .arg(m_publisher->queued());
    }
    if (m_publisher->lost() > 0)
        text += pickText(lang, QStringLiteral("，%1 条已丢弃"), QStringLiteral(", %1 given up")).arg(m_publisher->lost());
    m_label->setText(text);
    m_label->setStyleSheet(m_publisher->isConnected() ? QString() : QStringLiteral("color: red;"));
    m_label->show();
}

void WindowPublishing::save(QSettings &settings) const
{
    settings.setValue(QStringLiteral("mqttUrl"), m_settings.url);
    settings.setValue(QStringLiteral("mqttUser"), m_settings.user);
    settings.setValue(QStringLiteral("mqttCaFile"), m_settings.caFile);
}

void WindowPublishing::restore(const QSettings &settings)
{
    m_settings.url = settings.value(QStringLiteral("mqttUrl")).toString();
    m_settings.user = settings.value(QStringLiteral("mqttUser")).toString();
    m_settings.caFile = settings.value(QStringLiteral("mqttCaFile")).toString();
}
