// The main window's menus and its language: the texts of the window and the
// pages, the time stamps of the log, the About box and the remembered
// choices.
#include "app/mainwindow.h"

#include "app/appinfo.h"
#include "gui/dialogs.h"
#include "model/valueformat.h"
#include "pages/bmsdatalog.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "pages/pandidrw.h"
#include "pages/presetparameters.h"
#include "pages/trendpage.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QMenu>
#include <QSettings>

// --- Language ---------------------------------------------------------------

void MainWindow::setupConnectionMenu()
{
    QMenu *menu = ui->menubar->addMenu(QStringLiteral("Connection"));
    menu->setObjectName(QStringLiteral("connectionMenu"));
    m_reconnectAction = menu->addAction(QStringLiteral("Reconnect automatically"));
    m_reconnectAction->setObjectName(QStringLiteral("reconnectAction"));
    m_reconnectAction->setCheckable(true);
    m_reconnectAction->setChecked(m_link->autoReconnect());
    connect(m_reconnectAction, &QAction::toggled, m_link, &SerialLink::setAutoReconnect);
}

void MainWindow::setupLanguageMenu()
{
    QMenu *menu = ui->menubar->addMenu(QStringLiteral("Language"));
    menu->setObjectName(QStringLiteral("languageMenu"));
    QAction *english = menu->addAction(QStringLiteral("English"));
    QAction *chinese = menu->addAction(QStringLiteral("中文"));
    connect(english, &QAction::triggered, this, [this] { ui->lgCB->setCurrentIndex(1); });
    connect(chinese, &QAction::triggered, this, [this] { ui->lgCB->setCurrentIndex(0); });
}

void MainWindow::setupToolsMenu()
{
    QMenu *menu = ui->menubar->addMenu(QStringLiteral("Tools"));
    menu->setObjectName(QStringLiteral("toolsMenu"));
    QAction *address = menu->addAction(QStringLiteral("Address and protocol…"));
    address->setObjectName(QStringLiteral("addressPageAction"));
    m_addressPage->setWindowIcon(QIcon(AppInfo::iconPath()));
    // The address page is a window of its own: shown on demand, brought to
    // the front when it is already open.
    connect(address, &QAction::triggered, this, [this] {
        m_addressPage->show();
        m_addressPage->raise();
        m_addressPage->activateWindow();
    });
}

void MainWindow::on_lgCB_currentIndexChanged(int index)
{
    if (index == 0 || index == 1) {
        const bool en = index == 1;
        auto text = [en](const char *zh, const char *enText) {
            return en ? QString::fromUtf8(enText) : QString::fromUtf8(zh);
        };
        ui->deviceGB->setTitle(text("监控设备信息", "Monitor Status"));
        ui->comNumLB->setText(text("端口号", "COM"));
        ui->btnRefresh->setText(text("刷新", "Refresh"));
        ui->baudLB->setText(text("波特率", "Baud Rate"));
        ui->lgGB->setTitle(text("语言", "Language"));
        ui->saveBtn->setText(text("保存", "Save"));
        ui->clearBtn->setText(text("清空", "Clear"));
        ui->tabWidget->setTabText(0, text("BMS实时监控", "BMS Monitoring"));
        ui->tabWidget->setTabText(1, text("BMS参数设置", "BMS Parameter"));
        ui->tabWidget->setTabText(2, text("BMS历史监控", "Historical Record"));
        ui->tabWidget->setTabText(3, text("BMS数据记录", "BMS Datalog"));
        ui->tabWidget->setTabText(4, text("实时数据收发", "Communication"));
        ui->tabWidget->setTabText(5, text("趋势", "Trend"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("languageMenu")))
            menu->setTitle(text("语言", "Language"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("connectionMenu")))
            menu->setTitle(text("连接", "Connection"));
        m_reconnectAction->setText(text("自动重连", "Reconnect automatically"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("toolsMenu")))
            menu->setTitle(text("工具", "Tools"));
        if (QAction *action = ui->menubar->findChild<QAction *>(QStringLiteral("addressPageAction")))
            action->setText(text("地址与协议…", "Address and protocol…"));
        m_addressPage->setWindowTitle(text("地址与协议", "Address and protocol"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("helpMenu")))
            menu->setTitle(text("帮助", "Help"));
        if (QAction *about = findChild<QAction *>(QStringLiteral("aboutAction")))
            about->setText(text("关于", "About"));
        ui->timeCB->setText(text("时间", "Time"));
        // The button keeps its meaning in the other language.
        ui->monitorBtn->setText(monitorButtonText());
    }
    if (index == 0 || index == 1) {
        const Language language = Language(index);
        m_monitoringPage->setLanguage(language);
        m_parameterPage->setLanguage(language);
        m_historyPage->setLanguage(language);
        m_datalogPage->setLanguage(language);
        m_addressPage->setLanguage(language);
        m_trendPage->setLanguage(language);
    }
    updateStatus();
    emit m_monitoringPage->languageSwich();
    emit m_parameterPage->languageSwich();
    emit m_historyPage->languageSwich();
    emit m_datalogPage->languageSwich();
    emit m_addressPage->languageSwich();
    emit m_trendPage->languageSwich();
}

// --- Help, time stamps, settings --------------------------------------------

void MainWindow::setupHelpMenu()
{
    QMenu *menu = ui->menubar->addMenu(QStringLiteral("Help"));
    menu->setObjectName(QStringLiteral("helpMenu"));
    QAction *about = menu->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::showAbout()
{
    const int lang = language();
    Dialogs::about(this, AppInfo::aboutTitle(lang), AppInfo::aboutText(lang, m_dataFolder));
}

void MainWindow::on_timeCB_toggled(bool checked)
{
    m_log.setShowTime(checked);
}

void MainWindow::saveSettings(QSettings &settings) const
{
    settings.setValue(QStringLiteral("language"), language());
    settings.setValue(QStringLiteral("port"), ui->serialNumCB->currentText());
    settings.setValue(QStringLiteral("baud"), ui->baudCB->currentText().toInt());
    settings.setValue(QStringLiteral("address"), int(selectedAddress()));
    settings.setValue(QStringLiteral("logTime"), ui->timeCB->isChecked());
}

void MainWindow::restoreSettings(const QSettings &settings)
{
    const int language = settings.value(QStringLiteral("language"), 1).toInt();
    if (language == 0 || language == 1)
        ui->lgCB->setCurrentIndex(language);
    const QString port = settings.value(QStringLiteral("port")).toString();
    if (!port.isEmpty())
        setPortName(port);
    setBaudRate(settings.value(QStringLiteral("baud"), 115200).toInt());
    setSlaveAddress(settings.value(QStringLiteral("address"), 1).toInt());
    ui->timeCB->setChecked(settings.value(QStringLiteral("logTime"), false).toBool());
}
