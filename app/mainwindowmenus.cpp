// The main window's menus and its language: the texts of the window and the
// pages, the time stamps of the log, the About box and the remembered
// choices.
#include "app/mainwindow.h"

#include "app/appinfo.h"
#ifdef PACKSCOPE_MQTT
#include "app/windowpublishing.h"
#endif
#include "gui/dialogs.h"
#include "session/busscanner.h"
#include "pages/packspage.h"
#include "model/addresslist.h"
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
#include <QStatusBar>

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
#ifdef PACKSCOPE_MQTT
    QAction *publish = menu->addAction(QStringLiteral("Publish to MQTT…"));
    publish->setObjectName(QStringLiteral("publishAction"));
    connect(publish, &QAction::triggered, m_publishing, &WindowPublishing::openDialog);
#endif
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
    QAction *scan = menu->addAction(QStringLiteral("Scan the bus…"));
    scan->setObjectName(QStringLiteral("scanBusAction"));
    connect(scan, &QAction::triggered, this, &MainWindow::scanBus);
}

void MainWindow::scanBus()
{
    // The menu is off while monitoring: the port is free.
    configureLink();
    const int lang = language();
    const QString port = m_link->portName();
    const int baud = m_link->baudRate();
    auto *scanner = new BusScanner(nullptr, this);
    const Result started = scanner->start(port, baud, 1, 64);
    if (!started.ok()) {
        showPortWarning(started.error());
        delete scanner;
        return;
    }
    setLinkControlsLocked(true);
    ui->monitorBtn->setEnabled(false);
    connect(scanner, &BusScanner::asked, this, [this, lang](int id) {
        statusBar()->showMessage(pickText(lang, QStringLiteral("正在扫描 ID %1/64…"), QStringLiteral("Scanning ID %1 of 64…")).arg(id));
    });
    connect(scanner, &BusScanner::finished, this, [this, scanner, lang, port, baud] {
        statusBar()->clearMessage();
        setLinkControlsLocked(false);
        ui->monitorBtn->setEnabled(true);
        QStringList lines;
        QVector<quint8> ids;
        for (const BusScanner::Pack &pack : scanner->found()) {
            lines << QStringLiteral("ID %1: %2  %3  %4").arg(pack.id).arg(pack.model, pack.version, pack.serial);
            ids << quint8(pack.id);
        }
        if (!ids.isEmpty())
            offerFound(ids);
        QString text;
        if (!scanner->result().ok())
            text = pickText(lang, QStringLiteral("串口 %1 已断开：%2"), QStringLiteral("The port %1 was lost: %2"))
                       .arg(port, scanner->result().error());
        else if (lines.isEmpty())
            text = pickText(lang, QStringLiteral("ID 1-64 均无应答（%1，%2 波特）。请检查波特率和接线。"),
                            QStringLiteral("No pack answered at IDs 1-64 on %1 at %2 baud: check the baud rate and the wiring."))
                       .arg(port)
                       .arg(baud);
        else
            text = pickText(lang, QStringLiteral("找到 %1 个电池组：\n\n%2"), QStringLiteral("%1 pack(s) found:\n\n%2"))
                       .arg(lines.size())
                       .arg(lines.join(QLatin1Char('\n')));
        scanner->deleteLater();
        // Ended inside the scanner's handling: the box opens after it returns.
        Dialogs::notify(this, QMessageBox::Information, pickText(lang, QStringLiteral("扫描总线"), QStringLiteral("Scan the bus")),
                        text);
    });
}

void MainWindow::offerFound(const QVector<quint8> &ids)
{
    // "Found" at the top of the ID box stands for the packs that answered,
    // and is chosen: Start Monitoring then polls them all.
    const QString found = pickText(language(), QStringLiteral("已发现"), QStringLiteral("Found"));
    int index = ui->comboBox->findData(QStringLiteral("found"), Qt::UserRole + 1);
    if (index < 0) {
        ui->comboBox->insertItem(0, found, AddressList::text(ids));
        index = 0;
        ui->comboBox->setItemData(index, QStringLiteral("found"), Qt::UserRole + 1);
    }
    ui->comboBox->setItemText(index, found);
    ui->comboBox->setItemData(index, AddressList::text(ids));
    ui->comboBox->setItemData(index, AddressList::text(ids), Qt::ToolTipRole);
    ui->comboBox->setCurrentIndex(index);
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
        auto tab = [this](QWidget *page, const QString &title) {
            ui->tabWidget->setTabText(ui->tabWidget->indexOf(page), title);
        };
        tab(m_monitoringPage, text("BMS实时监控", "BMS Monitoring"));
        const int found = ui->comboBox->findData(QStringLiteral("found"), Qt::UserRole + 1);
        if (found >= 0)
            ui->comboBox->setItemText(found, text("已发现", "Found"));
        tab(m_packsPage, text("电池组", "Packs"));
        tab(m_parameterPage, text("BMS参数设置", "BMS Parameter"));
        tab(m_historyPage, text("BMS历史监控", "Historical Record"));
        tab(m_datalogPage, text("BMS数据记录", "BMS Datalog"));
        tab(ui->widget, text("实时数据收发", "Communication"));
        tab(m_trendPage, text("趋势", "Trend"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("languageMenu")))
            menu->setTitle(text("语言", "Language"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("connectionMenu")))
            menu->setTitle(text("连接", "Connection"));
        m_reconnectAction->setText(text("自动重连", "Reconnect automatically"));
        if (QAction *action = ui->menubar->findChild<QAction *>(QStringLiteral("publishAction")))
            action->setText(text("发布到 MQTT…", "Publish to MQTT…"));
        if (QMenu *menu = ui->menubar->findChild<QMenu *>(QStringLiteral("toolsMenu")))
            menu->setTitle(text("工具", "Tools"));
        if (QAction *action = ui->menubar->findChild<QAction *>(QStringLiteral("addressPageAction")))
            action->setText(text("地址与协议…", "Address and protocol…"));
        if (QAction *action = ui->menubar->findChild<QAction *>(QStringLiteral("scanBusAction")))
            action->setText(text("扫描总线…", "Scan the bus…"));
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
        m_packsPage->setLanguage(language);
#ifdef PACKSCOPE_MQTT
        m_publishing->setLanguage(language);
#endif
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
    QVector<quint8> ids;
    if (selectedAddresses(&ids).ok())
        settings.setValue(QStringLiteral("addresses"), AddressList::text(ids));
    settings.setValue(QStringLiteral("logTime"), ui->timeCB->isChecked());
#ifdef PACKSCOPE_MQTT
    m_publishing->save(settings);
#endif
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
    QVector<quint8> ids;
    if (AddressList::parse(settings.value(QStringLiteral("addresses")).toString(), &ids).ok())
        setSlaveAddresses(ids);
    ui->timeCB->setChecked(settings.value(QStringLiteral("logTime"), false).toBool());
#ifdef PACKSCOPE_MQTT
    m_publishing->restore(settings);
#endif
}
