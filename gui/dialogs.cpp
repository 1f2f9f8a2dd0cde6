#include "gui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <QPushButton>

namespace Dialogs {
namespace {
Hook &hook()
{
    static Hook h;
    return h;
}
} // namespace

void setHook(Hook h) { hook() = std::move(h); }
void clearHook() { hook() = nullptr; }
Hook currentHook() { return hook(); }

int message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
            QMessageBox::StandardButton button)
{
    if (hook()) {
        Request r{Request::Message, icon, title, text, parent};
        return hook()(r, nullptr);
    }
    QMessageBox box(icon, title, text, button, parent);
    return box.exec();
}

void notify(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
            std::function<void()> closed)
{
    QPointer<QWidget> owner(parent);
    QTimer::singleShot(0, parent ? static_cast<QObject *>(parent) : qApp, [=] {
        if (parent && !owner)
            return;
        if (hook()) {
            Request r{Request::Message, icon, title, text, owner};
            hook()(r, nullptr);
            if (closed)
                closed();
            return;
        }
        auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        if (closed)
            QObject::connect(box, &QDialog::finished, box, [closed] { closed(); });
        box->open();
    });
}

void about(QWidget *parent, const QString &title, const QString &text)
{
    if (hook()) {
        Request r{Request::About, QMessageBox::Information, title, text, parent};
        hook()(r, nullptr);
        return;
    }
    QMessageBox::about(parent, title, text);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (hook()) {
        Request r{Request::SaveFile, QMessageBox::NoIcon, caption, filter, parent};
        QString name;
        hook()(r, &name);
        return name;
    }
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}

QString openFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (hook()) {
        Request r{Request::OpenFile, QMessageBox::NoIcon, caption, filter, parent};
        QString name;
        hook()(r, &name);
        return name;
    }
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

int question(QWidget *parent, const QString &title, const QString &text, const QStringList &buttonTexts)
{
    if (hook()) {
        Request r{Request::Question, QMessageBox::Question, title, text, parent};
        return hook()(r, nullptr);
    }
    if (buttonTexts.isEmpty()) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
        return box.exec();
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QList<QPushButton *> buttons;
    for (const QString &t : buttonTexts)
        buttons << box.addButton(t, QMessageBox::ActionRole);
    box.setDefaultButton(buttons.first());
    box.setEscapeButton(static_cast<QAbstractButton *>(nullptr));
    box.exec();
    return buttons.indexOf(static_cast<QPushButton *>(box.clickedButton()));
}

bool confirm(QWidget *parent, const QString &title, const QString &text, const QString &acceptText,
             const QString &cancelText)
{
    if (hook()) {
        Request r{Request::Confirm, QMessageBox::Warning, title, text, parent};
        return hook()(r, nullptr) == 0;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton *accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(cancelText, QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == accept;
}

} // namespace Dialogs
