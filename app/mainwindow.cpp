#include "app/mainwindow.h"
#ifdef PACKSCOPE_MQTT
#include "app/windowpublishing.h"
#endif

#include "app/appinfo.h"
#include "app/options.h"
#include "gui/dialogs.h"
#include "protocol/addresscommands.h"
#include "protocol/frames.h"
#include "protocol/recordread.h"
#include "model/addresslist.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "pages/bmsdatalog.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "pages/packspage.h"
#include "pages/trendpage.h"
#include "pages/pandidrw.h"
#include "pages/presetparameters.h"
#include "store/samplequeue.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QIcon>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QStatusBar>
#include <QSettings>
#include <QTimer>

QString MainWindow::monitorButtonText() const
{
    const bool en = language() != 0;
    return m_monitoring ? (en ? QStringLiteral("Stop Monitoring") : QStringLiteral("停止监控"))
                        : (en ? QStringLiteral("Start Monitoring") : QStringLiteral("开始监控"));
}

const QStringList &MainWindow::baudRates()
{
    static const QStringList rates{"1200", "2400", "4800", "9600", "19200",
                                   "38400", "56000", "57600", "115200"};
    return rates;
}

MainWindow::MainWindow(QWidget *parent, LinkPort *port)
    : QMainWindow(parent), ui(new Ui::MainWindow), m_session(new BmsSession(port, this)), m_link(m_session->link()),
      m_writer(m_session->writer()), m_log(nullptr)
{
    ui->setupUi(this);
    m_log = CommLog(ui->textEdit);
    setWindowTitle(QStringLiteral("PACKSCOPE V1.0"));

    fillPortList();

    connect(m_session, &BmsSession::frameSent, this, [this](const QByteArray &frame) { logFrame(CommLog::Sent, frame); });
    connect(m_session, &BmsSession::frameTaken, this,
            [this](const QByteArray &bytes) { logFrame(CommLog::Received, bytes); });
    connect(m_session, &BmsSession::burstEnded, this, [this] { m_log.moveCursorToEnd(); });
    connect(m_session, &BmsSession::offline, this, [this] { onLinkLost(); });
    connect(m_session, &BmsSession::readRefused, this, [this](quint8 function, quint8 code) {
        logNote(pickText(language(), QStringLiteral("BMS拒绝读取：功能码 %1，异常码 %2"),
                         QStringLiteral("BMS refused the read: function %1, exception code %2"))
                    .arg(function)
                    .arg(code));
    });
    connect(m_session, &BmsSession::portLost, this, &MainWindow::onPortLost);
    connect(m_session, &BmsSession::portRecovered, this, [this](const QString &portName) {
        logNote(pickText(language(), QStringLiteral("串口 %1 已恢复，继续监控"),
                         QStringLiteral("Port %1 is back: monitoring resumes"))
                    .arg(portName));
    });
    // The counters change with every frame, dozens of times a second with
    // many packs; the status bar shows them four times a second at most.
    m_countersTimer = new QTimer(this);
    m_countersTimer->setSingleShot(true);
    m_countersTimer->setInterval(250);
    connect(m_countersTimer, &QTimer::timeout, this, &MainWindow::updateCounters);
    connect(m_session, &BmsSession::countersChanged, m_countersTimer, [this] {
        if (!m_countersTimer->isActive())
            m_countersTimer->start();
    });

    m_monitoringPage = new BmsMonitoring(this);
    ui->tabWidget->insertTab(0, m_monitoringPage, QStringLiteral("BMS实时监控"));
    ui->tabWidget->setCurrentIndex(0);
    m_parameterPage = new PresetParameters(this);
    ui->tabWidget->insertTab(1, m_parameterPage, QStringLiteral("BMS参数设置"));
    m_historyPage = new HistoryMonitoring(this);
    ui->tabWidget->insertTab(2, m_historyPage, QStringLiteral("BMS历史监控"));
    m_datalogPage = new BmsDatalog(this);
    ui->tabWidget->insertTab(3, m_datalogPage, QStringLiteral("BMS数据记录"));

    // The trend chart comes last, after the communication log; it draws
    // every sample the history stores.
    m_trendPage = new TrendPage(this);
    ui->tabWidget->insertTab(5, m_trendPage, QStringLiteral("趋势"));
    connect(m_historyPage, &HistoryMonitoring::sampleStored, m_trendPage, &TrendPage::appendSample);

    // The address page is a window of its own; it is not placed in a tab.
    m_addressPage = new PAndIdRW(nullptr);

    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this] {
        if (ui->tabWidget->currentWidget() == ui->widget)
            m_log.viewShown();
    });
    // The packs side by side, first after the real-time page.
    m_packsPage = new PacksPage(this);
    ui->tabWidget->insertTab(1, m_packsPage, QStringLiteral("电池组"));
    m_packsPage->setSession(m_session);

    // One ID picked from the list, or several typed in ("1,3,7", "1-4,9").
    for (int i = 1; i <= 64; ++i)
        ui->comboBox->addItem(QString::number(i));
    ui->comboBox->setEditable(true);
    ui->comboBox->setInsertPolicy(QComboBox::NoInsert);
    ui->comboBox->setMinimumContentsLength(8);
    // The session knows the packs chosen before monitoring starts: the
    // address page warns before an ID command reaches several.
    connect(ui->comboBox, &QComboBox::currentTextChanged, this, [this] {
        if (!m_monitoring)
            configureLink();
    });

    m_parameterPage->setSession(m_session);
    m_datalogPage->setSession(m_session);
    connectSession();
    connect(historyQueue(), &SampleQueue::stateChanged, this, &MainWindow::onStoreStateChanged);
    connect(m_datalogPage->queue(), &SampleQueue::stateChanged, this, &MainWindow::onStoreStateChanged);

    m_countersLabel = new QLabel(this);
    m_countersLabel->setObjectName(QStringLiteral("countersLabel"));
    m_storeLabel = new QLabel(this);
    m_storeLabel->setObjectName(QStringLiteral("storeLabel"));
    statusBar()->addWidget(m_storeLabel, 1);
    statusBar()->addPermanentWidget(m_countersLabel);
#ifdef PACKSCOPE_MQTT
    m_publishing = new WindowPublishing(m_session, this);
    statusBar()->addPermanentWidget(m_publishing->statusLabel());
#endif

    setupLanguageMenu();
    setupConnectionMenu();
    setupToolsMenu();
    setupHelpMenu();

    // Start in English; the index change re-labels the window and every page.
    ui->lgCB->setCurrentIndex(1);
    ui->lgGB->hide();
}

MainWindow::~MainWindow()
{
    delete m_addressPage;
    delete ui;
}

int MainWindow::language() const { return ui->lgCB->currentIndex(); }

quint8 MainWindow::selectedAddress() const
{
    QVector<quint8> ids;
    return selectedAddresses(&ids).ok() ? ids.first() : quint8(1);
}

Result MainWindow::selectedAddresses(QVector<quint8> *ids) const
{
    // "Found" after a scan stands for the IDs that answered.
    const int found = ui->comboBox->findData(QStringLiteral("found"), Qt::UserRole + 1);
    if (found >= 0 && ui->comboBox->currentText() == ui->comboBox->itemText(found))
        return AddressList::parse(ui->comboBox->itemData(found).toString(), ids);
    return AddressList::parse(ui->comboBox->currentText(), ids);
}

void MainWindow::setSlaveAddresses(const QVector<quint8> &ids)
{
    if (ids.size() == 1)
        setSlaveAddress(ids.first());
    else if (!ids.isEmpty())
        ui->comboBox->setEditText(AddressList::text(ids));
}

SampleQueue *MainWindow::historyQueue() const { return m_historyPage->queue(); }

void MainWindow::setPortName(const QString &name)
{
    const int index = ui->serialNumCB->findText(name);
    if (index >= 0)
        ui->serialNumCB->setCurrentIndex(index);
    else
        ui->serialNumCB->setEditText(name);
}

void MainWindow::applyLinkOptions(const Options &options)
{
    if (!options.port.isEmpty())
        setPortName(options.port);
    if (options.baud)
        setBaudRate(options.baud);
    if (options.addresses.size() > 1)
        setSlaveAddresses(options.addresses);
    else if (options.address)
        setSlaveAddress(options.address);
    if (options.pollMs)
        setPollInterval(options.pollMs);
}

bool MainWindow::setBaudRate(int baud)
{
    const int index = baudRates().indexOf(QString::number(baud));
    if (index < 0)
        return false;
    ui->baudCB->setCurrentIndex(index);
    return true;
}

bool MainWindow::setSlaveAddress(int address)
{
    if (address < 1 || address > 64)
        return false;
    ui->comboBox->setCurrentIndex(address - 1);
    return true;
}

// --- Ports ------------------------------------------------------------------

void MainWindow::fillPortList()
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        ui->serialNumCB->addItem(info.portName());
}

void MainWindow::on_btnRefresh_clicked()
{
    ui->serialNumCB->clear();
    fillPortList();
}

void MainWindow::showPortWarning(const QString &reason)
{
    // The usual two hints, then what the system said, on a line of its own.
    const int lang = language();
    QString text = pickText(lang, QStringLiteral("当前串口号不存在!!!\r\n1.USB串口松了？\r\n2.是否被其他程序占用？"),
                            QStringLiteral("The current COM does not exist!!!\r\n1.The USB is loose\r\n2.is occupied by other programs？"));
    if (!reason.isEmpty())
        text += QStringLiteral("\r\n") + reason;
    Dialogs::message(this, QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")), text,
                     QMessageBox::Ok);
}

// --- Monitoring -------------------------------------------------------------

void MainWindow::on_monitorBtn_clicked()
{
    if (!m_monitoring)
        startMonitoring();
    else
        stopMonitoring();
}

void MainWindow::setLinkControlsLocked(bool locked)
{
    ui->serialNumCB->setEnabled(!locked);
    ui->baudCB->setEnabled(!locked);
    ui->lgCB->setEnabled(!locked);
    ui->comboBox->setEnabled(!locked);
    ui->btnRefresh->setEnabled(!locked);
    // The menus choose what must not change under a running link; the
    // connection setting and the About box may be used at any time.
    for (QAction *action : ui->menubar->actions()) {
        const QString menu = action->menu() ? action->menu()->objectName() : QString();
        if (menu != QLatin1String("connectionMenu") && menu != QLatin1String("helpMenu"))
            action->setEnabled(!locked);
    }
}

void MainWindow::configureLink()
{
    m_link->setPortName(ui->serialNumCB->currentText());
    m_link->setBaudRate(ui->baudCB->currentText().toInt());
    QVector<quint8> ids;
    if (selectedAddresses(&ids).ok())
        m_session->setAddresses(ids);
    m_packsPage->reset();
    updateStatus();
}

void MainWindow::disableLinkPages(ParameterWriter::End why, const QString &detail)
{
    // A parameter write that was running ends, and says how far it got.
    m_writer->stop(why, detail);
    m_parameterPage->disableButtons();
    m_datalogPage->disableReadButton();
}

void MainWindow::startMonitoring()
{
    QVector<quint8> ids;
    const Result listed = selectedAddresses(&ids);
    if (!listed.ok()) {
        const int lang = language();
        Dialogs::message(this, QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                         pickText(lang, QStringLiteral("ID “%1”无效：%2。\r\n请输入 1 到 64 的 ID，例如 5、1,3,7 或 1-4,9。"),
                                  QStringLiteral("The ID '%1' is not valid: %2.\r\nEnter IDs from 1 to 64, like 5, 1,3,7 or 1-4,9."))
                             .arg(ui->comboBox->currentText(), listed.error()),
                         QMessageBox::Ok);
        return;
    }
    configureLink();
    const Result started = m_session->start();
    if (!started.ok()) {
        showPortWarning(started.error());
        return;
    }
    setLinkControlsLocked(true);
    m_monitoring = true;
    ui->monitorBtn->setText(monitorButtonText());
    emit monitoringChanged(true);
}

void MainWindow::stopMonitoring()
{
    m_session->stop();
    setLinkControlsLocked(false);
    disableLinkPages(ParameterWriter::End::Stopped,
                     pickText(language(), QStringLiteral("监控已停止"), QStringLiteral("monitoring was stopped")));
    m_monitoring = false;
    ui->monitorBtn->setText(monitorButtonText());
    emit monitoringChanged(false);
}

void MainWindow::vsSerialSend() { m_link->vsSerialSend(); }
void MainWindow::vsSerialRead() { m_link->vsSerialRead(); }
void MainWindow::onFrameTimeout() { m_link->onFrameTimeout(); }

void MainWindow::onLinkLost(const QString &why)
{
    m_monitoringPage->showOffline();
    disableLinkPages(ParameterWriter::End::LinkLost,
                     why.isEmpty() ? pickText(language(), QStringLiteral("BMS 停止应答"), QStringLiteral("the BMS stopped answering"))
                                   : why);
    emit linkLost();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_writer->busy()) {
        // The app is on its way out: the report cannot wait for the loop.
        m_parameterPage->reportNextEndAtOnce();
        m_writer->stop(ParameterWriter::End::Stopped,
                       pickText(language(), QStringLiteral("窗口已关闭"), QStringLiteral("the window was closed")));
    }
#ifdef PACKSCOPE_MQTT
    // The packs go "offline" on the broker rather than by the last will.
    m_publishing->stop(2000);
#endif
    QMainWindow::closeEvent(event);
}

void MainWindow::onPortLost(const QString &portName, const QString &reason, bool watching)
{
    const int lang = language();
    onLinkLost(pickText(lang, QStringLiteral("串口 %1 已断开：%2"), QStringLiteral("the port %1 was lost: %2")).arg(portName, reason));
    logNote(pickText(lang, QStringLiteral("串口 %1 断开：%2"), QStringLiteral("Port %1 lost: %2")).arg(portName, reason));
    QString text = pickText(lang, QStringLiteral("串口 %1 已断开：%2"), QStringLiteral("The port %1 was lost: %2"))
                       .arg(portName, reason);
    if (watching)
        text += pickText(lang, QStringLiteral("\r\n串口恢复后将自动继续监控。"),
                         QStringLiteral("\r\nMonitoring resumes when the port is back."));
    if (m_monitoring && !watching)
        stopMonitoring();
    showLinkBox(QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")), text);
}

// --- Answers ----------------------------------------------------------------

void MainWindow::connectSession()
{
    // What each answer means is the session's; the pages show it, in the
    // order in which the answers used to be handed to them.
    connect(m_session, &BmsSession::online, this, [this] {
        m_monitoringPage->showOnline();
        m_parameterPage->enableButtons();
        m_datalogPage->enableReadButton();
        emit linkOnline();
    });
    connect(m_session, &BmsSession::sampleRead, this, [this] { m_monitoringPage->refreshValues(); });
    // Every pack's samples go into the history, told apart by the serial.
    connect(m_session, &BmsSession::packSampleRead, this, [this](quint8 id) {
        m_historyPage->sampleTime = m_session->sampleTime();
        m_historyPage->insertSample(m_session->packData(id));
    });
    // With several packs each one's coming and going is a line of the log;
    // the selected pack's going also shows on the pages, as with one pack.
    connect(m_session, &BmsSession::packOnline, this, [this](quint8 id) {
        if (m_session->addresses().size() > 1)
            logNote(pickText(language(), QStringLiteral("ID %1 在线：%2"), QStringLiteral("ID %1 online: %2"))
                        .arg(id)
                        .arg(serialText(m_session->packData(id))));
        if (const quint8 other = m_session->packSharingSerial(id)) {
            const QString text = pickText(language(), QStringLiteral("ID %1 与 ID %2 的序列号相同（%3）：历史记录无法区分这两个电池组"),
                                          QStringLiteral("ID %1 reports the same serial as ID %2 (%3): the history cannot tell their rows apart"))
                                     .arg(id)
                                     .arg(other)
                                     .arg(serialText(m_session->packData(id)));
            logNote(text);
            statusBar()->showMessage(text, 30000);
        }
    });
    connect(m_session, &BmsSession::packNotAnswering, this, [this](quint8 id) {
        if (m_session->addresses().size() > 1)
            logNote(pickText(language(), QStringLiteral("ID %1 没有应答：线上没有这个 ID 的电池组？"),
                             QStringLiteral("ID %1 does not answer: no pack with this ID on the line?"))
                        .arg(id));
    });
    connect(m_session, &BmsSession::packOffline, this, [this](quint8 id) {
        if (m_session->addresses().size() > 1 && m_monitoring)
            logNote(pickText(language(), QStringLiteral("ID %1 无应答，离线"), QStringLiteral("ID %1 stopped answering: offline"))
                        .arg(id));
    });
    connect(m_session, &BmsSession::packSelected, this, [this](quint8 id) {
        m_monitoringPage->refreshValues();
        if (m_session->isPackOnline(id)) {
            m_monitoringPage->showOnline();
            m_parameterPage->enableButtons();
            m_datalogPage->enableReadButton();
            // The parameter page shows this pack's values, never those of
            // the pack selected before (a Write would carry them over).
            m_parameterPage->on_collect_clicked();
        } else {
            m_monitoringPage->showOffline();
            m_parameterPage->disableButtons();
            m_datalogPage->disableReadButton();
        }
    });
    connect(m_session, &BmsSession::cycleChanged, this, &MainWindow::updateStatus);
    connect(m_packsPage, &PacksPage::selectRefused, this, [this] {
        statusBar()->showMessage(pickText(language(), QStringLiteral("写入或读取记录进行中，不能切换电池组"),
                                          QStringLiteral("A write or a record read is running: the pack cannot change now")),
                                 5000);
    });
    m_addressPage->setSession(m_session);
    // The pack's own commands go out with monitoring stopped, on the port
    // and at the baud rate chosen on the window.
    connect(m_session, &BmsSession::commandSending, this, [this] {
        if (m_monitoring)
            stopMonitoring();
        configureLink();
    });
    connect(m_session->commands(), &AddressCommander::sendFailed, this, &MainWindow::showPortWarning);
}

void MainWindow::showLinkBox(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // The box opens after the link's slot has returned and waits for
    // nobody; polling goes on meanwhile, and answers handled while it is
    // open do not pile further boxes on top of it.
    if (m_boxOpen)
        return;
    m_boxOpen = true;
    Dialogs::notify(this, icon, title, text, [this] { m_boxOpen = false; });
}

void MainWindow::logFrame(CommLog::Direction direction, const QByteArray &bytes)
{
    m_log.logFrame(direction, bytes, language());
}

void MainWindow::logNote(const QString &text)
{
    m_log.logNote(text);
}

// --- Log --------------------------------------------------------------------

void MainWindow::on_saveBtn_clicked()
{
    const int lang = language();
    if (lang != 0 && lang != 1)
        return;
    const QString name = Dialogs::saveFileName(this, pickText(lang, QStringLiteral("保存文件"), QStringLiteral("Save File")),
                                               pickText(lang, QStringLiteral("文本文件(*.txt)"), QStringLiteral("Text File(*.txt)")));
    if (name.isEmpty())
        return;
    const Result saved = m_log.appendTo(name);
    if (!saved.ok())
        Dialogs::message(this, QMessageBox::Warning, pickText(lang, QStringLiteral("保存文件"), QStringLiteral("Save File")),
                         pickText(lang, QStringLiteral("无法保存 %1：%2"), QStringLiteral("Cannot save %1: %2"))
                             .arg(name, saved.error()));
}

void MainWindow::on_clearBtn_clicked()
{
    m_log.clear();
}
