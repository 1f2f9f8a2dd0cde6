#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Every modal box and file dialog of the tool goes through here, so that a
// test can see what would be asked and answer it without a nested event
// loop that nobody closes.
namespace Dialogs {

struct Request
{
    enum Kind { Message, SaveFile, About, Question, OpenFile, Confirm };
    Kind kind = Message;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;   // box title or dialog caption
    QString text;    // box text or file filter
    QWidget *parent = nullptr;
};

// A hook answers instead of the user: for a message it returns the button
// pressed (as a QMessageBox::StandardButton value), for a save dialog the
// chosen file name in `fileName` (empty = cancelled).
using Hook = std::function<int(const Request &, QString *fileName)>;
void setHook(Hook hook);
void clearHook();
// The hook in place (null when none), to be put back by one who sets its own.
Hook currentHook();

// A modal box with one button; returns the button pressed.
int message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
            QMessageBox::StandardButton button = QMessageBox::Ok);

// A box that does not wait: it opens window-modal after the caller has
// returned, and `closed` runs once it is gone. The link's paths (the
// dispatcher, the poll tick, a lost port) use it, since a modal loop there
// would let the next bytes be handled before the current ones.
void notify(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
            std::function<void()> closed = nullptr);

// The About box: the application's icon, a title and a text; one OK button.
void about(QWidget *parent, const QString &title, const QString &text);

// The platform's save-file dialog; returns an empty string when cancelled.
QString saveFileName(QWidget *parent, const QString &caption, const QString &filter);

// The platform's open-file dialog; returns an empty string when cancelled.
QString openFileName(QWidget *parent, const QString &caption, const QString &filter);

// A question box. Without `buttonTexts` it has the standard Yes and No
// buttons and returns the one pressed; with them, push buttons with those
// texts (the first the default, no escape button) and returns the index of
// the one pressed. A hook's answer is returned as it stands.
int question(QWidget *parent, const QString &title, const QString &text,
             const QStringList &buttonTexts = QStringList());

// A warning that asks before something that may do harm: an accepting and a
// cancelling button, Cancel the default and the answer to Escape. True only
// when accepted; a hook accepts by answering 0, anything else cancels.
bool confirm(QWidget *parent, const QString &title, const QString &text, const QString &acceptText,
             const QString &cancelText);

} // namespace Dialogs
