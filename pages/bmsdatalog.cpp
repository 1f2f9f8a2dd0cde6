#include "pages/bmsdatalog.h"

#include "protocol/recordread.h"
#include "model/datalog.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "pages/exporttable.h"
#include "pages/historymonitoring.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"

#include "ui_bmsdatalog.h"

#include <QApplication>
#include <QDebug>
#include <QHeaderView>
#include <QRegularExpressionValidator>

namespace {

const QString StartZh = QStringLiteral("开始读取");
const QString StartEn = QStringLiteral("Start Reading");
const QString StopZh = QStringLiteral("停止读取");
const QString StopEn = QStringLiteral("Stop Reading");

} // namespace

BmsDatalog::BmsDatalog(QWidget *parent)
    : QWidget(parent), ui(new Ui::BmsDatalog), m_model(new RecordTableModel(RecordTable::datalog(), this)),
      m_queue(new SampleQueue(m_model, SampleQueue::DefaultCapacity, this))
{
    ui->setupUi(this);
    connect(m_queue, &SampleQueue::stored, this, [this](qint64 id, const QVector<QVariant> &values) {
        // The first row of an empty or freshly cleared table sets the widths.
        if (id == 1)
            fitColumns();
        emit recordStored(values.value(0).toInt(), id);
    });
    QTableView *view = ui->tableWidget;
    setUpRecordView(view, m_model);

    chineseHeaders = RecordTable::datalog().chineseHeaders();
    englishHeaders = RecordTable::datalog().englishHeaders();

    connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this, &BmsDatalog::sortByColumn);
    connect(this, &BmsDatalog::languageSwich, this, &BmsDatalog::languageChange);

    database = QSqlDatabase::database(RecordTable::datalog().connectionName, true);

    const QRegularExpression digits(QStringLiteral("[0-9]+$"));
    ui->begin_num_le->setValidator(new QRegularExpressionValidator(digits, ui->begin_num_le));
    ui->end_num_le->setValidator(new QRegularExpressionValidator(digits, ui->end_num_le));

    ui->progressBar->hide();
    ui->progress_lb->hide();
    loadTable();
}

BmsDatalog::~BmsDatalog() { delete ui; }

QTableView *BmsDatalog::tableView() const { return ui->tableWidget; }

void BmsDatalog::enableReadButton() { ui->pushButton->setEnabled(true); }
void BmsDatalog::disableReadButton() { ui->pushButton->setEnabled(false); }

bool BmsDatalog::fastRead() const { return ui->fastCB->isChecked(); }
void BmsDatalog::setFastRead(bool fast) { ui->fastCB->setChecked(fast); }

void BmsDatalog::setRangeText(const QString &begin, const QString &end)
{
    ui->begin_num_le->setText(begin);
    ui->end_num_le->setText(end);
}

bool BmsDatalog::wantsPollSoon() const
{
    return m_reading && m_awaitFast && m_awaitedRecord != 0 && liveData().nextRequest == DatalogRead;
}

void BmsDatalog::applyHeaderStyle()
{
    ui->tableWidget->horizontalHeader()->setStyleSheet(QString::fromLatin1(HistoryMonitoring::HeaderStyle));
}

void BmsDatalog::fitColumns() { ui->tableWidget->resizeColumnsToContents(); }

void BmsDatalog::loadTable()
{
    m_model->reload();
    applyHeaderStyle();
    fitColumns();
}

void BmsDatalog::setButtonText()
{
    const int language = liveData().language;
    if (language == 0 || language == 1)
        ui->pushButton->setText(m_reading ? pickText(language, StopZh, StopEn) : pickText(language, StartZh, StartEn));
}

// --- Range fields -------------------------------------------------------------

void BmsDatalog::on_begin_num_le_editingFinished()
{
    ui->begin_num_le->setText(Datalog::clampBegin(ui->begin_num_le->text(), ui->end_num_le->text()));
}

void BmsDatalog::on_end_num_le_editingFinished()
{
    ui->end_num_le->setText(Datalog::clampEnd(ui->end_num_le->text(), ui->begin_num_le->text()));
}

// --- Reading ------------------------------------------------------------------

void BmsDatalog::on_pushButton_clicked()
{
    if (!m_reading) {
        // A field still being edited has not been clamped: do it now, so the
        // run reads what the fields will show.
        QString begin = ui->begin_num_le->text();
        QString end = ui->end_num_le->text();
        const Datalog::Range range = Datalog::startRange(begin, end);
        ui->begin_num_le->setText(begin);
        ui->end_num_le->setText(end);
        m_reading = true;
        setButtonText();
        m_currentRecord = quint16(range.begin);
        m_endRecord = quint16(range.end);
        m_runTotal = range.count();
        m_runDone = 0;
        m_runClock.start();
        m_answer = Answer::None;
        m_awaitFast = false; // the first read goes out on a tick
        m_lastAnswerData.clear();
        liveData().nextRequest = DatalogRead;
        prepareNextRequest();
        return;
    }
    // Stop. A record answer still on its way is stored when it comes (its
    // read was sent), but nothing more is asked for.
    liveData().nextRequest = MonitorRead;
    finishRun(false);
}

void BmsDatalog::finishRun(bool complete)
{
    m_reading = false;
    m_awaitFast = false;
    setButtonText();
    showProgress();
    // The widths were set by the first row; the run has shown the rest.
    fitColumns();
    emit readingEnded(complete);
}

void BmsDatalog::storeRecordAnswer(const QByteArray &frame)
{
    m_answerRecord = RecordRead::recordOfRequest(m_answeredRequest);
    m_answeredRequest.clear();
    m_answer = Answer::Rejected;
    if (m_awaitedRecord == 0 || m_answerRecord != m_awaitedRecord) {
        // A late answer to an earlier read (stopped and started again) or a
        // repeated one: its data is not the awaited record's.
        qDebug("datalog: answer to record %d not stored, waiting for record %d", m_answerRecord, m_awaitedRecord);
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
        qDebug("datalog: answer for record %d repeats the previous one, reading it again", m_answerRecord);
        m_awaitFast = false;
        return;
    }
    m_answer = Answer::Accepted;
    m_lastAnswerData = data;
    BmsLiveData &live = liveData();
    for (int i = 0; i < registers; ++i)
        live.recordRegisters[i] = quint16(quint8(data[2 * i]) << 8 | quint8(data[2 * i + 1]));
}

void BmsDatalog::insertRecord()
{
    if (m_answer != Answer::Accepted)
        return;
    const BmsLiveData &live = liveData();
    // A record the database does not take now waits and is stored, in
    // order, once it does (as a history sample would); it is shown when
    // stored, and the run goes on meanwhile.
    m_queue->submit(Datalog::recordValues(m_answerRecord, live.recordRegisters, serialText(live)));
    if (m_reading)
        ++m_runDone;
}

void BmsDatalog::prepareNextRequest()
{
    const Answer answer = m_answer;
    m_answer = Answer::None;
    if (answer == Answer::Rejected)
        return; // the prepared read goes out again
    if (!m_reading) {
        m_awaitedRecord = 0; // the answer still on its way after Stop came
        return;
    }
    if (m_currentRecord > m_endRecord) {
        m_awaitedRecord = 0;
        // Only a read that is still being polled hands the polling back; a
        // link found silent has already turned it to the identity read.
        if (liveData().nextRequest == DatalogRead)
            liveData().nextRequest = MonitorRead;
        finishRun(true);
        return;
    }
    m_requestFrame = RecordRead::requestFrame(m_currentRecord);
    m_awaitedRecord = m_currentRecord;
    ++m_currentRecord;
    m_awaitFast = answer == Answer::Accepted && fastRead();
    showProgress();
}

void BmsDatalog::showProgress()
{
    const bool visible = m_reading && m_runTotal > 0;
    ui->progressBar->setVisible(visible);
    ui->progress_lb->setVisible(visible);
    if (!visible)
        return;
    ui->progressBar->setRange(0, m_runTotal);
    ui->progressBar->setValue(m_runDone);
    const qint64 left = Datalog::msLeft(m_runClock.elapsed(), m_runDone, m_runTotal);
    ui->progress_lb->setText(
        Datalog::progressText(qMin(m_runDone + 1, m_runTotal), m_runTotal, left, liveData().language));
}

// --- Table --------------------------------------------------------------------

void BmsDatalog::sortByColumn(int n) { sortRecordView(m_model, n, m_lastSortDescending); }

void BmsDatalog::languageChange()
{
    const int language = liveData().language;
    if (language == 0 || language == 1) {
        ui->begin_num_lb->setText(pickText(language, QStringLiteral("开始条数"), QStringLiteral("beginNum")));
        ui->end_num_lb->setText(pickText(language, QStringLiteral("结束条数"), QStringLiteral("endNum")));
        ui->saveBtn->setText(pickText(language, QStringLiteral("保存"), QStringLiteral("Save")));
        ui->clearBtn->setText(pickText(language, QStringLiteral("清空"), QStringLiteral("Clear")));
        ui->fastCB->setText(pickText(language, QStringLiteral("快速"), QStringLiteral("Fast")));
        setButtonText();
        showProgress();
    }
    loadTable();
}

void BmsDatalog::on_saveBtn_clicked()
{
    exportTable(this, ui->tableWidget, chineseHeaders, chineseHeaders.size());
}

void BmsDatalog::on_clearBtn_clicked() { m_queue->clearTable(); }
