#include "app/mqttdialog.h"

#include "gui/dialogs.h"
#include "model/valueformat.h"

#include "ui_mqttdialog.h"

#include <QPushButton>

MqttDialog::MqttDialog(QWidget *parent, Language language, const Settings &settings, Check check)
    : QDialog(parent), ui(new Ui::MqttDialog), m_language(language), m_check(std::move(check))
{
    ui->setupUi(this);
    const int lang = languageIndex(language);
    // The form's texts are the Chinese ones.
    if (language == Language::English) {
        setWindowTitle(QStringLiteral("Publish to MQTT"));
        ui->enabledCB->setText(QStringLiteral("Publish the packs to an MQTT broker"));
        ui->urlLB->setText(QStringLiteral("Broker URL"));
        ui->userLB->setText(QStringLiteral("User"));
        ui->passwordLB->setText(QStringLiteral("Password"));
        ui->caLB->setText(QStringLiteral("CA file"));
        ui->caBtn->setText(QStringLiteral("Browse…"));
    }
    ui->caLE->setPlaceholderText(pickText(lang, QStringLiteral("mqtts:// 时需要"), QStringLiteral("needed for mqtts://")));
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(pickText(lang, QStringLiteral("确定"), QStringLiteral("OK")));
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(pickText(lang, QStringLiteral("取消"), QStringLiteral("Cancel")));
    ui->enabledCB->setChecked(settings.enabled);
    ui->urlLE->setText(settings.url);
    ui->userLE->setText(settings.user);
    ui->passwordLE->setText(settings.password);
    ui->caLE->setText(settings.caFile);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &MqttDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &MqttDialog::reject);
    connect(ui->caBtn, &QPushButton::clicked, this, &MqttDialog::browseCaFile);
    connect(ui->enabledCB, &QCheckBox::toggled, this, &MqttDialog::updateEnabled);
    updateEnabled();
}

MqttDialog::~MqttDialog() { delete ui; }

MqttDialog::Settings MqttDialog::settings() const
{
    return {ui->enabledCB->isChecked(), ui->urlLE->text().trimmed(), ui->userLE->text(), ui->passwordLE->text(),
            ui->caLE->text().trimmed()};
}

void MqttDialog::updateEnabled()
{
    for (QWidget *w : {static_cast<QWidget *>(ui->urlLE), static_cast<QWidget *>(ui->userLE),
                       static_cast<QWidget *>(ui->passwordLE), static_cast<QWidget *>(ui->caLE),
                       static_cast<QWidget *>(ui->caBtn)})
        w->setEnabled(ui->enabledCB->isChecked());
}

void MqttDialog::browseCaFile()
{
    const int lang = languageIndex(m_language);
    const QString file = Dialogs::openFileName(
        this, pickText(lang, QStringLiteral("选择 CA 证书文件"), QStringLiteral("Choose the CA file")),
        pickText(lang, QStringLiteral("证书 (*.crt *.pem);;所有文件 (*)"), QStringLiteral("Certificates (*.crt *.pem);;All files (*)")));
    if (!file.isEmpty())
        ui->caLE->setText(file);
}

void MqttDialog::accept()
{
    const Result taken = m_check ? m_check(settings()) : Result();
    if (!taken.ok()) {
        const int lang = languageIndex(m_language);
        Dialogs::message(this, QMessageBox::Warning, pickText(lang, QStringLiteral("无法发布到 MQTT"), QStringLiteral("Cannot publish to MQTT")),
                         taken.error());
        return;
    }
    QDialog::accept();
}
