#pragma once

#include "model/language.h"

#include <QByteArray>
#include <QMessageBox>
#include <QWidget>

class QComboBox;
class QPushButton;
class QTimer;
namespace Ui { class PAndIdRW; }

// The address and protocol page: reads and sets the pack's bus ID and the
// protocols of its RS485 and CAN ports with the BMS's own commands. It owns
// no connection: it prepares txFrame and emits txSend; the window sends the
// frame and hands the answer to handleAnswer.
class PAndIdRW : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit PAndIdRW(QWidget *parent = nullptr);
    ~PAndIdRW() override;

    QByteArray txFrame;
    quint16 txLength = 0;

    // The answer to the command last sent (the window passes nothing else).
    void handleAnswer(const QByteArray &frame);
    QByteArray lastAnswer() const { return m_lastAnswer; }

    // How long a set command waits for the pack to confirm it.
    static constexpr int ConfirmTimeoutMs = 1000;

signals:
    void txSend();
    void languageSwich();

public slots:
    void on_current_id_clicked();
    void on_select_id_clicked();
    void on_current_485_clicked();
    void on_select_485_clicked();
    void on_current_can_clicked();
    void on_select_can_clicked();
    void languageChange();

private:
    void limitId(const QString &text);
    void search(quint8 code, QComboBox *list, QPushButton *modify);
    void sendSet(quint8 code, quint8 value);
    void send(const QByteArray &frame);
    void fillProtocolList(const QByteArray &frame, QComboBox *list, QPushButton *modify);
    void showBoxLater(QMessageBox::Icon icon, const QString &title, const QString &text);
    void unconfirmed();

    Ui::PAndIdRW *ui;
    QTimer *m_confirmTimer = nullptr;
    QByteArray m_lastAnswer;
    Language m_language = Language::Chinese;
};
