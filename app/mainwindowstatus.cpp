// The main window's status bar: the link's counters and the state of the
// stores that wait for the database, in the current language.
#include "app/mainwindow.h"

#include "model/valueformat.h"
#include "pages/bmsdatalog.h"
#include "store/samplequeue.h"

#include <QLabel>

// --- Status -----------------------------------------------------------------

QString MainWindow::countersText() const
{
    const LinkCounters &c = m_link->counters();
    return pickText(language(), QStringLiteral("发送 %1  应答 %2  无应答 %3  校验错 %4  异常 %5  丢弃 %6  待存 %7"),
                    QStringLiteral("Sent %1  Answers %2  No answer %3  CRC errors %4  Exceptions %5  Dropped %6  Waiting %7"))
        .arg(c.sent)
        .arg(c.taken)
        .arg(c.noAnswer)
        .arg(c.crcErrors)
        .arg(c.exceptions)
        .arg(c.dropped)
        .arg(historyQueue()->waiting());
}

QString MainWindow::storeText() const
{
    // What a queue's fault means, in the current language.
    const int lang = language();
    auto describe = [lang](const SampleQueue *queue, const QString &zhTable, const QString &enTable) {
        QString what;
        switch (queue->fault()) {
        case SampleQueue::Fault::None:
            return QString();
        case SampleQueue::Fault::ReadOnly:
            what = pickText(lang, QStringLiteral("数据库只读"), QStringLiteral("database is read-only"));
            break;
        case SampleQueue::Fault::DiskFull:
            what = pickText(lang, QStringLiteral("磁盘已满"), QStringLiteral("disk is full"));
            break;
        case SampleQueue::Fault::Locked:
            what = pickText(lang, QStringLiteral("数据库被锁定"), QStringLiteral("database is locked"));
            break;
        case SampleQueue::Fault::Other:
            what = pickText(lang, QStringLiteral("数据库错误"), QStringLiteral("database error"));
            break;
        }
        QString text = pickText(lang, QStringLiteral("%1未保存：%2（%3），%4 条等待写入"),
                                QStringLiteral("%1 not stored: %2 (%3), %4 waiting"))
                           .arg(pickText(lang, zhTable, enTable), what, queue->faultText())
                           .arg(queue->waiting());
        if (queue->lost() > 0)
            text += pickText(lang, QStringLiteral("，%1 条已丢失"), QStringLiteral(", %1 lost")).arg(queue->lost());
        return text;
    };
    QStringList parts;
    for (const QString &part : {describe(historyQueue(), QStringLiteral("历史数据"), QStringLiteral("History")),
                                describe(m_datalogPage->queue(), QStringLiteral("记录数据"), QStringLiteral("Datalog"))}) {
        if (!part.isEmpty())
            parts << part;
    }
    return parts.join(QStringLiteral("; "));
}

void MainWindow::onStoreStateChanged()
{
    // One log line per change of a fault, not per waiting row.
    const int fault = int(historyQueue()->fault()) * 8 + int(m_datalogPage->queue()->fault());
    if (fault != m_lastStoreFault) {
        m_lastStoreFault = fault;
        logNote(fault == 0 ? pickText(language(), QStringLiteral("数据库恢复写入"), QStringLiteral("Databases writable again"))
                           : storeText());
    }
    updateStatus();
}

void MainWindow::updateCounters()
{
    // A few times a second while polling: the counters only.
    m_countersLabel->setText(countersText());
}

void MainWindow::updateStatus()
{
    updateCounters();
    const QString store = storeText();
    QString text = store;
    if (m_session->isCycleStretched()) {
        // Many packs or a slow line: each pack is sampled less often than
        // the poll period, and the technician should know.
        const bool slowPack = m_session->isCycleSlowedByPack();
        const QString cycle = pickText(language(),
                                       slowPack ? QStringLiteral("%1 个电池组，每个每 %2 秒采样一次（电池组应答慢）")
                                                : QStringLiteral("%1 个电池组，每个每 %2 秒采样一次（线路速率所限）"),
                                       slowPack ? QStringLiteral("%1 packs: each sampled every %2 s (a pack answers slowly)")
                                                : QStringLiteral("%1 packs: each sampled every %2 s (all the line can carry)"))
                                  .arg(m_session->addresses().size())
                                  .arg(QString::number(m_session->cycleMs() / 1000.0, 'f', 1));
        text = store.isEmpty() ? cycle : cycle + QStringLiteral("; ") + store;
    }
    m_storeLabel->setText(text);
    m_storeLabel->setStyleSheet(store.isEmpty() ? QString() : QStringLiteral("color: red;"));
}
