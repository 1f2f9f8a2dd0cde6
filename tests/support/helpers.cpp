#include "support/helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

QStringList unfitWidgets(QWidget *page, bool visible, const QWidget *skip)
{
    QStringList unfit;
    for (QWidget *w : page->findChildren<QWidget *>()) {
        if (skip && (w == skip || skip->isAncestorOf(w)))
            continue;
        const QString name = w->objectName() + ' ' + w->property("text").toString();
        if (visible && !(w->isVisibleTo(page) && page->rect().contains(QRect(w->mapTo(page, QPoint()), w->size()))))
            unfit << name + " (hidden or outside)";
        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
            if (edit->fontMetrics().horizontalAdvance(edit->text()) + 4
                > edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width())
                unfit << name + " (clipped)";
        }
        if ((w->inherits("QLabel") || w->inherits("QPushButton") || w->inherits("QCheckBox"))
            && w->width() < w->minimumSizeHint().width())
            unfit << name + " (narrower than its hint)";
    }
    return unfit;
}

QString texts(const QObject *root, const QString &names)
{
    QStringList all;
    for (const QString &name : names.split(QLatin1Char('|'))) {
        const QObject *o = root->findChild<QObject *>(name);
        const char *property = !o ? nullptr
            : o->inherits("QComboBox")                          ? "currentText"
            : o->inherits("QGroupBox") || o->inherits("QMenu") ? "title"
            : o->property("text").isValid()                      ? "text"
                                                                 : "windowTitle";
        all << (o ? o->property(property).toString() : QStringLiteral("<no %1>").arg(name));
    }
    return all.join(QLatin1Char('|'));
}

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
