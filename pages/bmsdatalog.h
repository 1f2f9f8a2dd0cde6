#pragma once

#include <QByteArray>
#include <QWidget>

class QPushButton;

// The datalog page: the records the BMS keeps in its own memory, read out
// one per poll tick into table `record` of connection2.
class BmsDatalog : public QWidget
{
    Q_OBJECT
public:
    explicit BmsDatalog(QWidget *parent = nullptr);

    // The prepared 8-byte record read for the poll tick.
    QByteArray requestFrame() const { return m_requestFrame; }

    void enableReadButton();
    void disableReadButton();
    void storeRecordAnswer(const QByteArray &frame);
    void insertRecord();
    void prepareNextRequest();

signals:
    void languageSwich();

public slots:
    void on_pushButton_clicked();
    void languageChange();

private:
    QPushButton *m_readButton;
    QByteArray m_requestFrame;
    bool m_reading = false;
};
