#include "support/helpers.h"

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
