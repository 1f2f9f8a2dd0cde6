#pragma once

#include <QString>
#include <QWidget>

namespace Ui { class HistoryMonitoring; }

// The history page: every monitoring sample, stored in table `total` of
// connection1 and shown newest first.
class HistoryMonitoring : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryMonitoring(QWidget *parent = nullptr);
    ~HistoryMonitoring() override;

    // Time text of the next sample; written by the dispatcher.
    QString sampleTime;
    // Stores the values just decoded into the live data as one row.
    void insertSample();

signals:
    void languageSwich();

public slots:
    void languageChange();

private:
    Ui::HistoryMonitoring *ui;
};
