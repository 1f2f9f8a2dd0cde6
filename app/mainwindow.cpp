#include "app/mainwindow.h"

#include "gui/dialogs.h"
#include "link/crc16.h"
#include "link/frames.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "pages/bmsdatalog.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "pages/trendpage.h"
#include "pages/pandidrw.h"
#include "pages/presetparameters.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTimer>

namespace {
const QString StartZh = QStringLiteral("开始监控");
const QString StartEn = QStringLiteral("Start Monitoring");
const QString StopZh = QStringLiteral("停止监控");
const QString StopEn = QStringLiteral("Stop Monitoring");
} // namespace

const QStringList &MainWindow::baudRates()
{
    static const QStringList rates{"1200", "2400", "4800", "9600", "19200",
                                   "38400", "56000", "57600", "115200"};
    return rates;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), m_log(nullptr)
{
    ui->setupUi(this);
    m_log = CommLog(ui->textEdit);
    setWindowTitle(QStringLiteral("PACKSCOPE V1.0"));
    m_elapsed.start();
    m_clock = [this] { return m_elapsed.elapsed(); };

    fillPortList();

    pollTimer = new QTimer(this);
    frameTimer = new QTimer(this);
    // The end of a frame is 20 ms of silence: a coarse timer may fire early.
    frameTimer->setTimerType(Qt::PreciseTimer);
    frameTimer->setSingleShot(true);
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::vsSerialSend);
    connect(&m_serial, &QSerialPort::readyRead, this, &MainWindow::vsSerialRead);
    connect(frameTimer, &QTimer::timeout, this, &MainWindow::onFrameTimeout);

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

    for (int i = 1; i <= 64; ++i)
        ui->comboBox->addItem(QString::number(i));

    connect(m_addressPage, &PAndIdRW::txSend, this, &MainWindow::sendPageFrame);

    setupLanguageMenu();

    // Start in English; the index change re-labels the window and every page.
    ui->lgCB->setCurrentIndex(1);
    ui->lgGB->hide();
}

MainWindow::~MainWindow()
{
    delete m_addressPage;
    delete ui;
}

quint8 MainWindow::selectedAddress() const
{
    return quint8(ui->comboBox->currentIndex() + 1);
}

void MainWindow::setPortName(const QString &name)
{
    const int index = ui->serialNumCB->findText(name);
    if (index >= 0)
        ui->serialNumCB->setCurrentIndex(index);
    else
        ui->serialNumCB->setEditText(name);
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
    for (const QSerialPortInfo &info : ports) {
        ui->serialNumCB->addItem(info.portName());
        m_serial.close();
    }
}

void MainWindow::on_btnRefresh_clicked()
{
    ui->serialNumCB->clear();
    fillPortList();
}

void MainWindow::configurePort()
{
    const qint32 baud = ui->baudCB->currentText().toInt();
    m_serial.setBaudRate(baud, QSerialPort::AllDirections);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    m_serial.setStopBits(QSerialPort::OneStop);
}

bool MainWindow::openPort()
{
    m_serial.setPortName(ui->serialNumCB->currentText());
    if (m_serial.open(QIODevice::ReadWrite)) {
        configurePort();
        return true;
    }
    const int lang = ui->lgCB->currentIndex();
    Dialogs::message(this, QMessageBox::Warning,
                     pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                     pickText(lang,
                              QStringLiteral("当前串口号不存在!!!\r\n1.USB串口松了？\r\n2.是否被其他程序占用？"),
                              QStringLiteral("The current COM does not exist!!!\r\n1.The USB is loose\r\n2.is occupied by other programs？")),
                     QMessageBox::Ok);
    return false;
}

// --- Monitoring -------------------------------------------------------------

void MainWindow::on_monitorBtn_clicked()
{
    m_serial.close();
    if (!m_monitoring)
        startMonitoring();
    else
        stopMonitoring();
}

void MainWindow::startMonitoring()
{
    if (!openPort())
        return;
    ui->serialNumCB->setEnabled(false);
    ui->baudCB->setEnabled(false);
    ui->lgCB->setEnabled(false);
    ui->comboBox->setEnabled(false);
    ui->btnRefresh->setEnabled(false);
    for (QAction *action : ui->menubar->actions())
        action->setEnabled(false);
    ui->monitorBtn->setText(ui->lgCB->currentIndex() == 0 ? StopZh : StopEn);
    m_monitoring = true;
    m_rxBuffer.clear();
    m_gate.reset();
    liveData().nextRequest = IdentityRead;
    m_inFlight.clear();
    pollTimer->start(1000);
    emit monitoringChanged(true);
}

void MainWindow::stopMonitoring()
{
    m_serial.close();
    ui->serialNumCB->setEnabled(true);
    ui->baudCB->setEnabled(true);
    ui->lgCB->setEnabled(true);
    for (QAction *action : ui->menubar->actions())
        action->setEnabled(true);
    m_parameterPage->disableButtons();
    m_datalogPage->disableReadButton();
    ui->comboBox->setEnabled(true);
    ui->btnRefresh->setEnabled(true);
    if (liveData().nextRequest == DatalogRead)
        m_datalogPage->on_pushButton_clicked();
    ui->monitorBtn->setText(ui->lgCB->currentIndex() == 0 ? StartZh : StartEn);
    m_monitoring = false;
    pollTimer->stop();
    frameTimer->stop();
    m_gate.reset();
    m_rxBuffer.clear();
    m_inFlight.clear();
    emit monitoringChanged(false);
}

void MainWindow::vsSerialSend()
{
    const TickDecision d = decideTick(liveData(), m_unansweredCount, selectedAddress(),
                                      m_parameterPage->writeFrame(), m_datalogPage->requestFrame());
    switch (d.action) {
    case TickDecision::GoOffline:
        m_monitoringPage->showOffline();
        m_parameterPage->disableButtons();
        m_datalogPage->disableReadButton();
        m_inFlight.clear();
        emit linkLost();
        break;
    case TickDecision::AbandonWrite:
        m_parameterPage->waitBox()->close();
        break;
    case TickDecision::Send:
        m_serial.write(d.frame);
        m_inFlight = d.frame;
        logFrame(CommLog::Sent, d.frame);
        break;
    case TickDecision::Nothing:
        break;
    }
}

void MainWindow::sendPageFrame()
{
    if (m_monitoring)
        on_monitorBtn_clicked();
    m_serial.close();
    m_rxBuffer.clear();
    m_gate.reset();
    openPort();
    const int length = m_addressPage->txLength & 0xFF;
    QByteArray frame = m_addressPage->txFrame.left(length);
    sealFrame(frame);
    m_serial.write(frame);
    m_inFlight = frame;
    logFrame(CommLog::Sent, frame);
}

// --- Receiving --------------------------------------------------------------

void MainWindow::vsSerialRead()
{
    const QByteArray data = m_serial.readAll();
    if (data.isEmpty())
        return;
    const qint64 now = m_clock();
    // A silence of 20 ms that the timer has not been delivered for yet (a
    // busy event loop) still ends the bytes held before these.
    if (m_gate.expired(now))
        onFrameTimeout();
    m_gate.arrival(now);
    m_rxBuffer.write(reinterpret_cast<const quint8 *>(data.constData()), quint32(data.size()));
    frameTimer->start(m_gate.silenceMs());
}

void MainWindow::onFrameTimeout()
{
    const qint64 now = m_clock();
    if (m_gate.pending() && !m_gate.expired(now)) {
        frameTimer->start(std::max(1, m_gate.remaining(now)));
        return;
    }
    // Take everything and empty the buffer before anything is dispatched:
    // the dispatcher may open a modal box, and the ticks and answers handled
    // while it is open must never see these bytes again.
    frameTimer->stop();
    m_gate.reset();
    QByteArray held(int(m_rxBuffer.available()), '\0');
    held.resize(int(m_rxBuffer.read(reinterpret_cast<quint8 *>(held.data()), quint32(held.size()))));
    m_rxBuffer.clear();

    if (Frames::classifyBurst(held, selectedAddress()) == Frames::Burst::Complete)
        takeFrame(held);
    m_log.moveCursorToEnd();
}

void MainWindow::takeFrame(const QByteArray &bytes)
{
    logFrame(CommLog::Received, bytes);
    if (Frames::checkAnswer(bytes) != Frames::Check::Ok)
        return;
    // An answer when none is awaited (a second answer to one request, or a
    // frame nobody asked for) is logged above and goes no further.
    if (m_inFlight.isEmpty())
        return;
    // A read answer whose size does not match the read in flight is a late
    // answer to an earlier request: it stays unanswered.
    if (m_monitoring && Frames::functionCode(bytes) == Frames::ReadHolding
        && !Frames::answerFitsRead(bytes, liveData().requestKind))
        return;
    dispatchAnswer(bytes);
}

void MainWindow::dispatchAnswer(const QByteArray &frame)
{
    m_unansweredCount = 0;
    m_inFlight.clear();
    BmsLiveData &live = liveData();
    if (!m_monitoring) {
        m_addressPage->handleAnswer(frame);
        return;
    }
    const int lang = ui->lgCB->currentIndex();
    const quint8 function = Frames::functionCode(frame);
    if (function == Frames::ReadHolding) {
        switch (live.requestKind) {
        case IdentityRead:
            storeReadAnswer(frame);
            m_monitoringPage->showOnline();
            m_parameterPage->enableButtons();
            m_datalogPage->enableReadButton();
            live.nextRequest = MonitorRead;
            emit linkOnline();
            break;
        case MonitorRead:
            storeReadAnswer(frame);
            m_monitoringPage->refreshValues();
            m_historyPage->sampleTime = m_parameterPage->clockText();
            m_historyPage->insertSample();
            break;
        case ParameterRead:
            m_parameterPage->storeParameterAnswer(frame);
            live.nextRequest = MonitorRead;
            break;
        case DatalogRead:
            m_datalogPage->storeRecordAnswer(frame);
            m_datalogPage->insertRecord();
            m_datalogPage->prepareNextRequest();
            break;
        default:
            break;
        }
    } else if (function == Frames::WriteMultiple) {
        m_parameterPage->prepareNextWrite();
        if (live.writeRegister == WriteChainDone) {
            m_parameterPage->waitBox()->close();
            live.nextRequest = ParameterRead;
            showLinkBox(QMessageBox::Information, pickText(lang, QStringLiteral("成功"), QStringLiteral("successful")),
                        pickText(lang, QStringLiteral("参数修改成功!!!"),
                                 QStringLiteral("Parameter modification was successful!!!")));
        }
    } else {
        // Set before the box opens: the ticks that run while it is open must
        // not repeat the refused request.
        live.nextRequest = MonitorRead;
        showLinkBox(QMessageBox::Critical, pickText(lang, QStringLiteral("失败"), QStringLiteral("error")),
                    pickText(lang, QStringLiteral("参数修改失败!!!"),
                             QStringLiteral("Parameter modification was failed!!!")));
    }
}

void MainWindow::showLinkBox(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // Polling goes on while the box is open; answers handled meanwhile must
    // not pile further boxes on top of it.
    if (m_boxOpen)
        return;
    m_boxOpen = true;
    Dialogs::message(this, icon, title, text, QMessageBox::Ok);
    m_boxOpen = false;
}

void MainWindow::logFrame(CommLog::Direction direction, const QByteArray &bytes)
{
    m_log.logFrame(direction, bytes, ui->lgCB->currentIndex());
}

// --- Log --------------------------------------------------------------------

void MainWindow::on_saveBtn_clicked()
{
    const int lang = ui->lgCB->currentIndex();
    if (lang != 0 && lang != 1)
        return;
    const QString name = Dialogs::saveFileName(this, pickText(lang, QStringLiteral("保存文件"), QStringLiteral("Save File")),
                                               pickText(lang, QStringLiteral("文本文件(*.txt)"), QStringLiteral("Text File(*.txt)")));
    if (name.isEmpty())
        return;
    m_log.appendTo(name);
}

void MainWindow::on_clearBtn_clicked()
{
    m_log.clear();
}

// --- Language ---------------------------------------------------------------

void MainWindow::setupLanguageMenu()
{
    QMenu *menu = ui->menubar->addMenu(QStringLiteral("Language"));
    menu->setObjectName(QStringLiteral("languageMenu"));
    QAction *english = menu->addAction(QStringLiteral("English"));
    QAction *chinese = menu->addAction(QStringLiteral("中文"));
    connect(english, &QAction::triggered, this, [this] { ui->lgCB->setCurrentIndex(1); });
    connect(chinese, &QAction::triggered, this, [this] { ui->lgCB->setCurrentIndex(0); });
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
        // The button keeps its meaning in the other language.
        ui->monitorBtn->setText(en ? (m_monitoring ? StopEn : StartEn) : (m_monitoring ? StopZh : StartZh));
    }
    liveData().language = quint8(index);
    emit m_monitoringPage->languageSwich();
    emit m_parameterPage->languageSwich();
    emit m_historyPage->languageSwich();
    emit m_datalogPage->languageSwich();
    emit m_addressPage->languageSwich();
    emit m_trendPage->languageSwich();
}
