#pragma once

#include <QByteArray>
#include <QWidget>

// The address and protocol page: reads and sets the pack's bus ID and the
// protocols of its RS485 and CAN ports with the BMS's own commands. It owns
// no connection: it prepares txFrame and emits txSend.
class PAndIdRW : public QWidget
{
    Q_OBJECT
public:
    explicit PAndIdRW(QWidget *parent = nullptr);

    QByteArray txFrame;
    quint16 txLength = 0;

    // An answer received while monitoring is off.
    void handleAnswer(const QByteArray &frame);
    QByteArray lastAnswer() const { return m_lastAnswer; }

signals:
    void txSend();
    void languageSwich();

public slots:
    void languageChange();

private:
    QByteArray m_lastAnswer;
};
