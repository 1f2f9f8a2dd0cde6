#include "session/datalogreader.h"

#include "model/livedata.h"
#include "protocol/recordread.h"


DatalogReader::DatalogReader(QObject *parent) : QObject(parent) {}

void DatalogReader::start(int begin, int end)
{
    m_reading = true;
    m_current = quint16(begin);
    m_end = quint16(end);
    m_total = end - begin + 1;
    m_done = 0;
    m_clock.start();
    m_answer = Answer::None;
    m_awaitFast = false; // the first read goes out on a tick
    m_lastAnswerData.clear();
    liveData().nextRequest = DatalogRead;
    prepareNext();
}

void DatalogReader::stop()
{
    if (!m_reading)
        return;
    liveData().nextRequest = MonitorRead;
    finish(false);
}

void DatalogReader::finish(bool complete)
{
    m_reading = false;
    m_awaitFast = false;
    emit progress();
    emit ended(complete);
}

bool DatalogReader::wantsPollSoon() const
{
    return m_reading && m_awaitFast && m_awaited != 0 && liveData().nextRequest == DatalogRead;
}

void DatalogReader::answered(const QByteArray &request, const QByteArray &frame)
{
    take(request, frame);
    if (m_answer == Answer::Accepted) {
        if (m_reading)
            ++m_done;
        emit recordRead(m_answerRecord);
    }
    prepareNext();
}

void DatalogReader::take(const QByteArray &request, const QByteArray &frame)
{
    m_answerRecord = RecordRead::recordOfRequest(request);
    m_answer = Answer::Rejected;
    if (m_awaited == 0 || m_answerRecord != m_awaited) {
        // A late answer to an earlier read (stopped and started again) or a
        // repeated one: its data is not the awaited record's.
        return;
    }
    const int byteCount = frame.size() > 2 ? quint8(frame[2]) : 0;
    const int registers = qBound(0, qMin(byteCount, frame.size() - 3) / 2, RecordRead::Registers);
    const QByteArray data = frame.mid(3, 2 * registers);
    // A read sent at once after an answer can be met by a repetition of that
    // answer coming late: the same bytes again are read once more on a tick.
    // Records of a real log differ (each has its own time); two alike are
    // still stored, from the read that a tick sent.
    if (m_awaitFast && !m_lastAnswerData.isEmpty() && data == m_lastAnswerData) {
        m_awaitFast = false;
        return;
    }
    m_answer = Answer::Accepted;
    m_lastAnswerData = data;
    BmsLiveData &live = liveData();
    for (int i = 0; i < registers; ++i)
        live.recordRegisters[i] = quint16(quint8(data[2 * i]) << 8 | quint8(data[2 * i + 1]));
}

void DatalogReader::prepareNext()
{
    const Answer answer = m_answer;
    m_answer = Answer::None;
    if (answer == Answer::Rejected)
        return; // the prepared read goes out again
    if (!m_reading) {
        m_awaited = 0; // the answer still on its way after Stop came
        return;
    }
    if (m_current > m_end) {
        m_awaited = 0;
        // Only a read that is still being polled hands the polling back; a
        // link found silent has already turned it to the identity read.
        if (liveData().nextRequest == DatalogRead)
            liveData().nextRequest = MonitorRead;
        finish(true);
        return;
    }
    m_requestFrame = RecordRead::requestFrame(m_current);
    m_awaited = m_current;
    ++m_current;
    m_awaitFast = answer == Answer::Accepted && m_fast;
    emit progress();
}
