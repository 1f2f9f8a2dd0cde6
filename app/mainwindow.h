#pragma once

#include "app/commlog.h"
#include "link/polling.h"
#include "link/ringbuffer.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QSerialPort>
#include <functional>

class QTimer;
class BmsMonitoring;
class PresetParameters;
class HistoryMonitoring;
class BmsDatalog;
class PAndIdRW;
class TrendPage;
namespace Ui { class MainWindow; }

// The tool's window. It owns the serial link: the port, the receive buffer,
// the poll and frame timers and the count of unanswered requests; it routes
// every accepted answer to the page that asked for it, and switches the
// language of every page.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool isMonitoring() const { return m_monitoring; }
    // The slave address chosen on the window (1..64).
    quint8 selectedAddress() const;
    quint8 unansweredCount() const { return m_unansweredCount; }

    // Link choices, also reachable from the command line.
    void setPortName(const QString &name);
    bool setBaudRate(int baud);
    bool setSlaveAddress(int address);

    // The clock that measures the silence ending a frame (milliseconds,
    // monotonic); tests put a clock of their own here.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    BmsMonitoring *monitoringPage() const { return m_monitoringPage; }
    PresetParameters *parameterPage() const { return m_parameterPage; }
    HistoryMonitoring *historyPage() const { return m_historyPage; }
    BmsDatalog *datalogPage() const { return m_datalogPage; }
    PAndIdRW *addressPage() const { return m_addressPage; }
    TrendPage *trendPage() const { return m_trendPage; }
    const CommLog &commLog() const { return m_log; }

    static const QStringList &baudRates();

    // The request whose answer is awaited: the frame last sent, as sent;
    // empty once an answer to it has been dispatched. At most one answer is
    // dispatched per request sent.
    const QByteArray &requestInFlight() const { return m_inFlight; }

signals:
    // The BMS answered the identity read: the pages are usable.
    void linkOnline();
    // Five requests in a row found no answer: the pages show the link lost.
    void linkLost();
    // Monitoring started (true) or stopped (false).
    void monitoringChanged(bool monitoring);

public slots:
    void vsSerialRead();
    void vsSerialSend();
    void on_btnRefresh_clicked();
    void on_monitorBtn_clicked();
    void on_saveBtn_clicked();
    void on_clearBtn_clicked();
    void on_lgCB_currentIndexChanged(int index);
    void onFrameTimeout();
    void sendPageFrame();

private:
    void fillPortList();
    void configurePort();
    bool openPort();
    void startMonitoring();
    void stopMonitoring();
    void takeFrame(const QByteArray &bytes);
    void dispatchAnswer(const QByteArray &frame);
    void showLinkBox(QMessageBox::Icon icon, const QString &title, const QString &text);
    void logFrame(CommLog::Direction direction, const QByteArray &bytes);
    void setupLanguageMenu();

    Ui::MainWindow *ui;
    QSerialPort m_serial;
    RingBuffer m_rxBuffer{300};
    QTimer *pollTimer = nullptr;
    QTimer *frameTimer = nullptr;
    quint8 m_unansweredCount = 0;
    bool m_monitoring = false;
    bool m_boxOpen = false;
    QByteArray m_inFlight;
    SilenceGate m_gate;
    QElapsedTimer m_elapsed;
    std::function<qint64()> m_clock;
    CommLog m_log;

    BmsMonitoring *m_monitoringPage = nullptr;
    PresetParameters *m_parameterPage = nullptr;
    HistoryMonitoring *m_historyPage = nullptr;
    BmsDatalog *m_datalogPage = nullptr;
    PAndIdRW *m_addressPage = nullptr;
    TrendPage *m_trendPage = nullptr;
};
