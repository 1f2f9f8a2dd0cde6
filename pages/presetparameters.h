#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

class QMessageBox;
class QTimer;
namespace Ui { class PresetParameters; }

// The parameter page: the BMS's protection parameters read, edited and
// written group by group, and the PC's clock, which also stamps every
// history sample.
class PresetParameters : public QWidget
{
    Q_OBJECT
public:
    explicit PresetParameters(QWidget *parent = nullptr);
    ~PresetParameters() override;

    // The PC's local date and time, "yyyy-MM-dd hh:mm:ss", refreshed every
    // second; empty until the first refresh.
    QString clockText() const { return m_clockText; }

    // The prepared parameter write frame for the poll tick.
    QByteArray writeFrame() const { return m_writeFrame; }
    int writeFrameLength() const { return m_writeFrame.size(); }

    void enableButtons();
    void disableButtons();
    // Stores registers 45..135 from a parameter read answer.
    void storeParameterAnswer(const QByteArray &frame);
    // Shows the progress box and prepares the next frame of a write sequence.
    void prepareNextWrite();
    QMessageBox *waitBox() const { return m_waitBox; }

    static QString formatClock(const class QDateTime &time);

signals:
    void languageSwich();

public slots:
    void on_collect_clicked();
    void languageChange();
    void updateClock();

private:
    Ui::PresetParameters *ui;
    QTimer *clockTimer;
    QString m_clockText;
    QByteArray m_writeFrame;
    QMessageBox *m_waitBox;
};
