#include "pages/presetparameters.h"

#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "ui_presetparameters.h"

#include <QDateTime>
#include <QMessageBox>
#include <QTimer>

PresetParameters::PresetParameters(QWidget *parent)
    : QWidget(parent), ui(new Ui::PresetParameters)
{
    ui->setupUi(this);

    clockTimer = new QTimer(this);
    connect(clockTimer, &QTimer::timeout, this, &PresetParameters::updateClock);
    clockTimer->start(1000);

    connect(this, &PresetParameters::languageSwich, this, &PresetParameters::languageChange);

    m_waitBox = new QMessageBox(QMessageBox::Information, QStringLiteral("正在写入"),
                                QStringLiteral("请稍后..."), QMessageBox::Ok, this,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    m_waitBox->setStyleSheet(QStringLiteral("QLabel{min-width:80px;min-height:40px; font-size:13px;}"));
    m_waitBox->button(QMessageBox::Ok)->hide();
}

PresetParameters::~PresetParameters() { delete ui; }

QString PresetParameters::formatClock(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

void PresetParameters::updateClock()
{
    m_clockText = formatClock(QDateTime::currentDateTime());
    ui->CURRENT_TIME->setText(m_clockText);
}

void PresetParameters::enableButtons()
{
    ui->collect->setEnabled(true);
    ui->factory_reset->setEnabled(true);
    ui->set->setEnabled(true);
}

void PresetParameters::disableButtons()
{
    ui->factory_reset->setEnabled(false);
    ui->collect->setEnabled(false);
    ui->set->setEnabled(false);
}

void PresetParameters::storeParameterAnswer(const QByteArray &frame)
{
    storeRegisters(frame, Reg::ParameterStart, liveData());
    ui->factory_reset->setEnabled(true);
    ui->set->setEnabled(true);
}

void PresetParameters::prepareNextWrite()
{
    // The write chain over the parameter groups is not built yet: a sequence
    // ends at once.
    liveData().writeRegister = WriteChainDone;
}

void PresetParameters::on_collect_clicked()
{
    // The next poll tick reads registers 45..135.
    liveData().nextRequest = ParameterRead;
}

void PresetParameters::languageChange()
{
    const int lang = liveData().language;
    if (lang != 0 && lang != 1)
        return;
    ui->TIME_SET->setTitle(pickText(lang, QStringLiteral("时间设置"), QStringLiteral("DateTime Setting")));
    ui->LB_BMS_TIME->setText(pickText(lang, QStringLiteral("BMS 时间"), QStringLiteral("BMS Time")));
    ui->LB_CURRENT_TIME->setText(pickText(lang, QStringLiteral("当前时间"), QStringLiteral("Now Time")));
    ui->selectAll->setText(pickText(lang, QStringLiteral("选择所有"), QStringLiteral("Select All")));
    ui->collect->setText(pickText(lang, QStringLiteral("采集参数"), QStringLiteral("Read")));
    ui->set->setText(pickText(lang, QStringLiteral("设置参数"), QStringLiteral("Write")));
    ui->factory_reset->setText(pickText(lang, QStringLiteral("恢复出厂设置"), QStringLiteral("Restore Factory Date")));
    m_waitBox->setWindowTitle(pickText(lang, QStringLiteral("正在写入"), QStringLiteral("Writring")));
    m_waitBox->setText(pickText(lang, QStringLiteral("请稍后..."), QStringLiteral("Please Wait...")));
}
