#pragma once

#include "app/commlog.h"
#include "link/seriallink.h"
#include "session/bmssession.h"

#include <QMainWindow>
#include <QMessageBox>
#include <functional>

class QAction;
class QLabel;
class SampleQueue;
class QSettings;
class BmsMonitoring;
class PresetParameters;
class HistoryMonitoring;
class BmsDatalog;
class PAndIdRW;
class TrendPage;
class PacksPage;
class WindowPublishing;
namespace Ui { class MainWindow; }

// The tool's window. It owns the serial link (SerialLink: port, poll, frame
// cutting and checks) and the pages; it routes every answer the link hands
// over to the page that asked for it, shows the link's and the history's
// state, and switches the language of every page.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `port` is the link's byte pipe; null for the serial port (a test rig
    // or the fuzzer passes one of its own).
    explicit MainWindow(QWidget *parent = nullptr, LinkPort *port = nullptr);
    ~MainWindow() override;

    bool isMonitoring() const { return m_monitoring; }
    // The slave address chosen on the window (1..64): the first of the list.
    quint8 selectedAddress() const;
    // The packs chosen on the window: one ID, a list typed into the ID box
    // ("1,3,7", "1-4,9"), or "Found" after a scan. A failure says what is
    // wrong with the text.
    Result selectedAddresses(QVector<quint8> *ids) const;
    quint8 unansweredCount() const { return m_link->unansweredCount(); }

    // Port, baud rate, slave address and poll period given on the command
    // line (whatever the options leave unset stays as chosen).
    void applyLinkOptions(const struct Options &options);
    // Link choices, also reachable from the command line.
    void setPortName(const QString &name);
    bool setBaudRate(int baud);
    bool setSlaveAddress(int address);
    // Several packs: the list goes into the ID box as its text.
    void setSlaveAddresses(const QVector<quint8> &ids);

    // The clock that measures the silence ending a frame (milliseconds,
    // monotonic); tests put a clock of their own here.
    void setClock(std::function<qint64()> clock) { m_link->setClock(std::move(clock)); }
    // The poll period (1000 ms; shorter on test rigs).
    void setPollInterval(int ms) { m_link->setPollInterval(ms); }

    SerialLink *link() const { return m_link; }
    BmsSession *session() const { return m_session; }
    SampleQueue *historyQueue() const;
    // The status bar's texts: the link's counters, the history's state.
    QString countersText() const;
    QString storeText() const;

    BmsMonitoring *monitoringPage() const { return m_monitoringPage; }
    PresetParameters *parameterPage() const { return m_parameterPage; }
    HistoryMonitoring *historyPage() const { return m_historyPage; }
    BmsDatalog *datalogPage() const { return m_datalogPage; }
    PAndIdRW *addressPage() const { return m_addressPage; }
    TrendPage *trendPage() const { return m_trendPage; }
    PacksPage *packsPage() const { return m_packsPage; }
    const CommLog &commLog() const { return m_log; }

    static const QStringList &baudRates();

    // The user's last choices: language, port, baud rate, slave address and
    // whether the log shows the time. Restoring an empty store keeps the
    // first-start defaults (English, 115200, ID 1, no time).
    void saveSettings(QSettings &settings) const;
    void restoreSettings(const QSettings &settings);
    // Where the databases are, for the About box.
    void setDataFolder(const QString &folder) { m_dataFolder = folder; }

    // Runs one extra poll tick delayMs from now (the datalog's fast read).
    void pollSoon(int delayMs) { m_link->pollSoon(delayMs); }

    ParameterWriter *parameterWriter() const { return m_writer; }
    // Publishing to MQTT (Connection → Publish to MQTT…); null in a build
    // without it.
    WindowPublishing *publishing() const { return m_publishing; }

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void on_timeCB_toggled(bool checked);
    void showAbout();
    // Tools → Scan the bus…: the packs on the line at IDs 1-64.
    void scanBus();

private:
    void fillPortList();
    void startMonitoring();
    void stopMonitoring();
    void connectSession();
    // "Start Monitoring" or "Stop Monitoring" in the current language.
    QString monitorButtonText() const;
    void showLinkBox(QMessageBox::Icon icon, const QString &title, const QString &text);
    void showPortWarning(const QString &reason);
    void logFrame(CommLog::Direction direction, const QByteArray &bytes);
    void logNote(const QString &text);
    void setLinkControlsLocked(bool locked);
    // `why` says what happened (empty: the BMS stopped answering).
    void onLinkLost(const QString &why = QString());
    void onPortLost(const QString &portName, const QString &reason, bool watching);
    void onStoreStateChanged();
    void updateStatus();
    void updateCounters();
    // The port, baud rate and address chosen on the window, given to the link.
    void configureLink();
    // The pages that need the link: their buttons off, a running write ended
    // with its report.
    void disableLinkPages(ParameterWriter::End why, const QString &detail);
    void setupLanguageMenu();
    void setupConnectionMenu();
    int language() const;
    void setupToolsMenu();
    void setupHelpMenu();
    // After a scan: "Found" in the ID box, for the IDs that answered.
    void offerFound(const QVector<quint8> &ids);

    Ui::MainWindow *ui;
    BmsSession *m_session;
    SerialLink *m_link;
    ParameterWriter *m_writer;
    bool m_monitoring = false;
    bool m_boxOpen = false;
    CommLog m_log;
    QLabel *m_countersLabel = nullptr;
    class QTimer *m_countersTimer = nullptr;
    QLabel *m_storeLabel = nullptr;
    QAction *m_reconnectAction = nullptr;
    int m_lastStoreFault = 0;
    QString m_dataFolder;

    BmsMonitoring *m_monitoringPage = nullptr;
    PresetParameters *m_parameterPage = nullptr;
    HistoryMonitoring *m_historyPage = nullptr;
    BmsDatalog *m_datalogPage = nullptr;
    PAndIdRW *m_addressPage = nullptr;
    TrendPage *m_trendPage = nullptr;
    WindowPublishing *m_publishing = nullptr;
    PacksPage *m_packsPage = nullptr;
};
