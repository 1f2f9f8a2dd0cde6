#include "pages/bmsmonitoring.h"

#include "model/livedata.h"
#include "model/monitordata.h"
#include "ui_bmsmonitoring.h"

BmsMonitoring::BmsMonitoring(QWidget *parent) : QWidget(parent), ui(new Ui::BmsMonitoring)
{
    ui->setupUi(this);
    showOffline();
    connect(this, &BmsMonitoring::languageSwich, this, &BmsMonitoring::languageChange);
}

BmsMonitoring::~BmsMonitoring() { delete ui; }

void BmsMonitoring::showOnline()
{
    ui->com_state->setText(liveData().language == 0 ? QStringLiteral("在线") : QStringLiteral("Online"));
    ui->com_state->setStyleSheet(QStringLiteral("background-color: green;"));
    ui->model->setText(modelText());
    ui->ver->setText(versionText());
    ui->serial_num->setText(serialText());
}

void BmsMonitoring::showOffline()
{
    ui->com_state->setText(liveData().language == 0 ? QStringLiteral("离线") : QStringLiteral("Offline"));
    ui->com_state->setStyleSheet(QStringLiteral("background-color: red;"));
}

void BmsMonitoring::refreshValues() {}

void BmsMonitoring::languageChange()
{
    if (liveData().requestKind != IdentityRead)
        showOnline();
    else
        showOffline();
}
