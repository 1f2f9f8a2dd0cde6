#include "store/samplequeue.h"

#include "store/recordtablemodel.h"
#include "store/schema.h"

#include <QSqlDatabase>
#include <QTimer>

SampleQueue::SampleQueue(RecordTableModel *model, int capacity, QObject *parent)
    : QObject(parent), m_model(model), m_capacity(qMax(1, capacity)), m_retryTimer(new QTimer(this))
{
    m_retryTimer->setInterval(RetryMs);
    connect(m_retryTimer, &QTimer::timeout, this, &SampleQueue::retry);
}

SampleQueue::Fault SampleQueue::classify(const QSqlError &error)
{
    // SQLite's primary result codes, as the driver reports them.
    switch (error.nativeErrorCode().toInt()) {
    case 8: // SQLITE_READONLY
        return Fault::ReadOnly;
    case 13: // SQLITE_FULL
        return Fault::DiskFull;
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return Fault::Locked;
    default:
        return Fault::Other;
    }
}

void SampleQueue::submit(const QVector<QVariant> &values)
{
    // Counted before the row joins: a row stored at once changes nothing
    // anyone shows, and must not redraw the status bar every second.
    const int before = waiting();
    m_waiting.push_back(values);
    if (int(m_waiting.size()) > m_capacity) {
        m_waiting.pop_front();
        ++m_lost;
    }
    flush();
    if (waiting() != before || m_fault != Fault::None)
        emit stateChanged();
}

void SampleQueue::retry()
{
    if (m_waiting.empty()) {
        m_retryTimer->stop();
        return;
    }
    const int before = waiting();
    flush();
    if (waiting() != before)
        emit stateChanged();
}

void SampleQueue::clearTable()
{
    m_waiting.clear();
    m_lost = 0;
    m_retryTimer->stop();
    setFault(Fault::None, QString());
    emit stateChanged();
    m_model->clearTable();
}

bool SampleQueue::reopen()
{
    m_model->forgetStatements();
    QSqlDatabase db = m_model->database();
    db.close();
    if (!db.open())
        return false;
    Schema::configureConnection(db);
    return true;
}

bool SampleQueue::flush()
{
    if (m_fault == Fault::ReadOnly || m_fault == Fault::Other)
        reopen();
    while (!m_waiting.empty()) {
        QSqlError error;
        const qint64 id = m_model->storeRow(m_waiting.front(), &error);
        if (id < 0) {
            setFault(classify(error), error.text());
            m_retryTimer->start();
            return false;
        }
        const QVector<QVariant> values = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_model->showStoredRow(id, values);
        emit stored(id, values);
    }
    m_retryTimer->stop();
    setFault(Fault::None, QString());
    return true;
}

void SampleQueue::setFault(Fault fault, const QString &text)
{
    if (fault == m_fault && text == m_faultText)
        return;
    m_fault = fault;
    m_faultText = text;
    emit stateChanged();
}
