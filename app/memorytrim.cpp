#include "app/memorytrim.h"

#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void trimFreedMemoryEveryMinute(QObject *owner)
{
#ifdef __GLIBC__
    auto *timer = new QTimer(owner);
    timer->setInterval(60 * 1000);
    QObject::connect(timer, &QTimer::timeout, [] { malloc_trim(0); });
    timer->start();
#else
    Q_UNUSED(owner);
#endif
}
