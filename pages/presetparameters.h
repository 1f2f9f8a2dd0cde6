#pragma once

#include "model/language.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <QWidget>

#include "model/parameterrules.h"
#include "model/parameterset.h"
#include "session/bmssession.h"

#include <functional>

class QCheckBox;
class QLineEdit;
class QMessageBox;
class QTimer;
namespace Ui { class PresetParameters; }

// The parameter page: the BMS's protection parameters read, edited and
// written group by group, restored to factory values, kept in set files,
// and the PC's clock, which also stamps every history sample.
//
// The page never talks to the port: it leaves its reads in the live data
// block, hands writes to the ParameterWriter, and the dispatcher calls back
// with the answers.
class PresetParameters : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit PresetParameters(QWidget *parent = nullptr);
    ~PresetParameters() override;

    // The PC's local date and time, "yyyy-MM-dd hh:mm:ss", refreshed every
    // second; empty until the first refresh.
    QString clockText() const { return m_clockText; }

    // The conversation with the pack: reads are asked of it, writes handed
    // to its writer. Set once, before use.
    void setSession(BmsSession *session);
    ParameterWriter *writer() const;

    // The identity answer made the link usable (enable), or it went away
    // (disable): a read or a write waiting for its first answer is dropped.
    void enableButtons();
    void disableButtons();
    // The session stored registers 45..135 from a read: they are shown
    // (before a write, only in the groups it does not write).
    void parametersRead();
    void showParameters(unsigned groupMask = ~0u);
    QMessageBox *waitBox() const { return m_waitBox; }

    // Read, a write sequence (its read of the pack first, when the page
    // holds no values read since the link came up) or its read-back runs:
    // Read, Write, Restore and Open set… wait for its end.
    bool isBusy() const;

    // The next end of a sequence is reported with a box that waits (the
    // window is closing and a deferred box would never open).
    void reportNextEndAtOnce() { m_reportAtOnce = true; }

    // Starts a write of the ticked groups (the Write button): false, with a
    // warning box naming the field, when a text cannot be written, or with
    // the hint box when nothing is ticked.
    bool startWrite();
    bool startFactoryReset();
    void setFastWrite(bool on);

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
    bool beginWrite(const ParameterWriter::Request &write);
    bool confirm(const ParameterWriter::Concerns &concerns);
    void writeEnded(const ParameterWriter::Report &report);
    void updateButtons();
    void showHint();
    void showRefusal(QLineEdit *field, const QString &label, const QString &text, const QString &why, bool saving);
    QString setFileProblem(const QString &fileName, const QString &where, const QString &what);

    Ui::PresetParameters *ui;
    QTimer *clockTimer;
    QString m_clockText;
    QMessageBox *m_waitBox;
    BmsSession *m_session = nullptr;
    bool m_online = false;
    bool m_reading = false;
    bool m_reportAtOnce = false;
    bool m_reportOpen = false;
    // The model a set file was saved from, while its values are shown.
    QString m_setModel;
    QVector<QCheckBox *> m_groupBoxes; // by group index of the map
    QHash<QString, QLineEdit *> m_fields;
    // The clock is to be set from the PC's when its frame is prepared (a
    // set that lists TIME_SET), not from a time that went stale meanwhile.
    bool m_clockFromPc = false;
    Language m_language = Language::Chinese;
};
