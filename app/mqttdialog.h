#pragma once

#include "model/language.h"
#include "model/result.h"

#include <QDialog>
#include <QString>
#include <functional>

namespace Ui { class MqttDialog; }

// Connection → Publish to MQTT…: whether the window publishes its packs,
// and the broker's URL, user, password and CA file. OK asks `check` first;
// a refusal is shown in a box (through Dialogs) and the dialog stays open.
class MqttDialog : public QDialog
{
    Q_OBJECT
public:
    struct Settings
    {
        bool enabled = false;
        QString url;
        QString user;
        QString password;
        QString caFile;
    };
    using Check = std::function<Result(const Settings &)>;

    MqttDialog(QWidget *parent, Language language, const Settings &settings, Check check);
    ~MqttDialog() override;

    Settings settings() const;

    void accept() override;

private:
    void browseCaFile();
    void updateEnabled();

    Ui::MqttDialog *ui;
    Language m_language;
    Check m_check;
};
