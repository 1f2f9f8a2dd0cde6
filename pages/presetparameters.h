#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <QWidget>

#include "model/parameterset.h"

class QCheckBox;
class QLineEdit;
class QMessageBox;
class QTimer;
namespace Ui { class PresetParameters; }

// The parameter page: the BMS's protection parameters read, edited and
// written group by group, restored to factory values, kept in set files,
// and the PC's clock, which also stamps every history sample.
//
// The page never talks to the port: it leaves its requests in the live data
// block and its prepared write frame for the poll tick, and the dispatcher
// calls back with the answers.
class PresetParameters : public QWidget
{
    Q_OBJECT
public:
    explicit PresetParameters(QWidget *parent = nullptr);
    ~PresetParameters() override;

    // The PC's local date and time, "yyyy-MM-dd hh:mm:ss", refreshed every
    // second; empty until the first refresh.
    QString clockText() const { return m_clockText; }

    // The prepared parameter write frame for the poll tick (empty when no
    // sequence has a frame to send).
    QByteArray writeFrame() const { return m_writeFrame; }
    int writeFrameLength() const { return m_writeFrame.size(); }

    void enableButtons();
    void disableButtons();
    // Stores registers 45..135 from a parameter read answer and shows them.
    void storeParameterAnswer(const QByteArray &frame);
    void showParameters();
    // Shows the progress box and prepares the next frame of a write
    // sequence; writeRegister becomes 0x220 once the last frame, the clock
    // frame included, has been acknowledged.
    void prepareNextWrite();
    QMessageBox *waitBox() const { return m_waitBox; }

    // A write sequence that ends other than by success. The poll tick gave
    // up after unanswered sends, or the link went away (monitoring stopped,
    // the BMS fell silent): the progress box closes and, when a sequence was
    // running, the failure box says so (after the caller has returned).
    void abandonWrite();
    void linkStopped();
    // The BMS refused a frame: the dispatcher shows the failure box itself.
    void writeRefused();
    bool isWriting() const { return m_writing; }
    // Why the last sequence failed, in English (for the command line).
    QString failureReason() const { return m_failure; }

    // Starts a write of the ticked groups (the Write button): false, with a
    // warning box naming the field, when a text cannot be written, or with
    // the hint box when nothing is ticked.
    bool startWrite();
    bool startFactoryReset();

    // Parameter sets in files. Empty result: done; otherwise why not, in
    // the current language (a box has said so too).
    QString saveSetTo(const QString &fileName);
    // `opened`, when given, receives the set as read.
    QString openSetFrom(const QString &fileName, ParamSet::Set *opened = nullptr);
    // Ticks exactly the groups of `mask` (bit i = group i of the map).
    void tickGroups(unsigned mask);
    unsigned tickedGroups() const;
    QLineEdit *field(const QString &name) const { return m_fields.value(name); }

    static QString formatClock(const class QDateTime &time);

signals:
    void languageSwich();
    // A write sequence ended: every frame acknowledged (true) or not.
    void writeSequenceEnded(bool success);
    // A parameter read answer has been stored and shown.
    void parametersShown();

public slots:
    void on_selectAll_clicked(bool checked);
    void checkChange();
    void on_factory_reset_clicked();
    void on_collect_clicked();
    void on_set_clicked();
    void languageChange();
    void updateClock();
    void on_saveSet_clicked();
    void on_openSet_clicked();

private:
    // Checks the texts that a sequence for `mask` would write; on refusal
    // a warning box names the field and it gets the focus.
    bool refuseUnsafe(unsigned mask, bool factory, bool saving = false);
    void startSequence();
    void showHint();
    void failSequence(bool showBox, const QString &reason);
    void showRefusal(QLineEdit *field, const QString &label, const QString &text, const QString &why, bool saving);
    QString setFileProblem(const QString &fileName, const QString &where, const QString &what);

    Ui::PresetParameters *ui;
    QTimer *clockTimer;
    QString m_clockText;
    QByteArray m_writeFrame;
    QMessageBox *m_waitBox;
    QVector<QCheckBox *> m_groupBoxes; // by group index of the map
    QHash<QString, QLineEdit *> m_fields;
    bool m_writing = false;
    // The clock is to be set from the PC's when its frame is prepared (a
    // set that lists TIME_SET), not from a time that went stale meanwhile.
    bool m_clockFromPc = false;
    QString m_failure;
};
