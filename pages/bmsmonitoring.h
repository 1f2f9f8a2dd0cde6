#pragma once

#include "model/language.h"

#include <QString>
#include <QVector>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
namespace Ui { class BmsMonitoring; }

// The real-time page: link state, identity, pack values, temperatures, cell
// voltages and the warning, protection and error lamps, all drawn from the
// live register image.
class BmsMonitoring : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

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
    struct LampGroup
    {
        QVector<QPushButton *> lamps; // lamp N at index N-1
        int registerAddress;
        QString litStyle;
    };

    void findWidgets();
    void fitFieldWidths();

    Ui::BmsMonitoring *ui;

    // Identity texts as last taken from the register image (model 24,
    // version 6, serial number 16 characters at most).
    QString m_modelText;
    QString m_versionText;
    QString m_serialText;

    // Widgets looked up by object name inside their groups once, so the
    // once-a-second redraw does no searching.
    QVector<QLineEdit *> m_cells;       // cell_1 .. cell_16
    QVector<QLabel *> m_cellLabels;     // lb_cell_1 .. lb_cell_16
    QVector<QLabel *> m_sensorLabels;   // lb_temp_1 .. lb_temp_4
    QVector<QLineEdit *> m_sensorFields; // temp_1 .. temp_4
    LampGroup m_warnings;
    LampGroup m_protections;
    LampGroup m_errors;
    Language m_language = Language::Chinese;
};
