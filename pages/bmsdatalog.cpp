#include "pages/bmsdatalog.h"

#include "model/livedata.h"
#include "model/valueformat.h"

#include <QPushButton>
#include <QVBoxLayout>

// Placeholder for the datalog page: the button and the calls the link makes;
// reading records comes with the datalog reader.
BmsDatalog::BmsDatalog(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    m_readButton = new QPushButton(QStringLiteral("开始读取"), this);
    m_readButton->setObjectName(QStringLiteral("pushButton"));
    m_readButton->setEnabled(false);
    layout->addWidget(m_readButton);
    layout->addStretch();
    connect(this, &BmsDatalog::languageSwich, this, &BmsDatalog::languageChange);
}

void BmsDatalog::enableReadButton() { m_readButton->setEnabled(true); }
void BmsDatalog::disableReadButton() { m_readButton->setEnabled(false); }
void BmsDatalog::storeRecordAnswer(const QByteArray &) {}
void BmsDatalog::insertRecord() {}

void BmsDatalog::prepareNextRequest()
{
    m_reading = false;
    liveData().nextRequest = MonitorRead;
}

void BmsDatalog::on_pushButton_clicked()
{
    m_reading = false;
    liveData().nextRequest = MonitorRead;
}

void BmsDatalog::languageChange()
{
    const int lang = liveData().language;
    if (lang == 0 || lang == 1)
        m_readButton->setText(pickText(lang, QStringLiteral("开始读取"), QStringLiteral("Start Reading")));
}
