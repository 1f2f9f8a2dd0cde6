#include "pages/historymonitoring.h"

#include "ui_historymonitoring.h"

HistoryMonitoring::HistoryMonitoring(QWidget *parent) : QWidget(parent), ui(new Ui::HistoryMonitoring)
{
    ui->setupUi(this);
    connect(this, &HistoryMonitoring::languageSwich, this, &HistoryMonitoring::languageChange);
}

HistoryMonitoring::~HistoryMonitoring() { delete ui; }

void HistoryMonitoring::insertSample() {}

void HistoryMonitoring::languageChange() {}
