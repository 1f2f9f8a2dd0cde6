#pragma once

#include <QWidget>

namespace Ui { class BmsMonitoring; }

// The real-time page: link state, identity, pack values, temperatures, cell
// voltages and the warning, protection and error lamps, all drawn from the
// live register image.
class BmsMonitoring : public QWidget
{
    Q_OBJECT
public:
    explicit BmsMonitoring(QWidget *parent = nullptr);
    ~BmsMonitoring() override;

    void showOnline();
    void showOffline();
    void refreshValues();

signals:
    void languageSwich();

public slots:
    void languageChange();

private:
    Ui::BmsMonitoring *ui;
};
