#pragma once

#include "app/mqttdialog.h"
#include "model/language.h"
#include "model/result.h"

#include <QObject>
#include <QPointer>

class BmsSession;
class MqttPublisher;
class QLabel;
class QSettings;
class QWidget;

// The window's publishing to MQTT, off until the user turns it on
// (Connection → Publish to MQTT…): the service's publisher, fed by the
// window's session (every pack coming online, its samples, its going
// offline), and the broker's state in the status bar. The URL, the user and
// the CA file are remembered with the window's choices; the password and
// whether it publishes are not: every start begins without publishing.
class WindowPublishing : public QObject
{
    Q_OBJECT
public:
    WindowPublishing(BmsSession *session, QWidget *window);
    ~WindowPublishing() override;

    QLabel *statusLabel() const { return m_label; }
    void setLanguage(Language language);

    // The dialog, window-modal and not waiting; its OK applies.
    void openDialog();
    // Publishing with these settings, or none; refused with the reason, and
    // then nothing changes.
    Result apply(const MqttDialog::Settings &settings);
    const MqttDialog::Settings &settings() const { return m_settings; }
    MqttPublisher *publisher() const { return m_publisher; }

    // The window closes: the packs and the window say "offline", waiting
    // for the broker `ms` at most.
    void stop(int ms);

    void save(QSettings &settings) const;
    void restore(const QSettings &settings);

    // The window's client id, apart from a service's on the same machine:
    // packscope-<host name>-window.
    static QString clientId();

private:
    void updateLabel();
    void stopPublisher(int graceMs);

    BmsSession *m_session;
    QWidget *m_window;
    QLabel *m_label;
    MqttPublisher *m_publisher = nullptr;
    QPointer<MqttDialog> m_dialog;
    MqttDialog::Settings m_settings;
    Language m_language = Language::English;
};
