#include "pages/bmsdatalog.h"

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
#include <QCheckBox>
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

void BmsDatalog::setSession(BmsSession *session)
{
    m_reader = session->datalog();
    m_reader->setFast(ui->fastCB->isChecked());
    connect(ui->fastCB, &QCheckBox::toggled, m_reader, &DatalogReader::setFast);
    connect(m_reader, &DatalogReader::recordRead, this, &BmsDatalog::insertRecord);
    connect(m_reader, &DatalogReader::progress, this, &BmsDatalog::showProgress);
    connect(m_reader, &DatalogReader::ended, this, &BmsDatalog::finishRun);
}

bool BmsDatalog::isReading() const { return m_reader && m_reader->isReading(); }
bool BmsDatalog::fastRead() const { return ui->fastCB->isChecked(); }
void BmsDatalog::setFastRead(bool fast) { ui->fastCB->setChecked(fast); }

void BmsDatalog::setRangeText(const QString &begin, const QString &end)
{
    ui->begin_num_le->setText(begin);
    ui->end_num_le->setText(end);
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
    const int language = languageIndex(m_language);
    if (language == 0 || language == 1)
        ui->pushButton->setText(m_reader && m_reader->isReading() ? pickText(language, StopZh, StopEn)
                                                                  : pickText(language, StartZh, StartEn));
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
    if (!m_reader->isReading()) {
        // A field still being edited has not been clamped: do it now, so the
        // run reads what the fields will show.
        QString begin = ui->begin_num_le->text();
        QString end = ui->end_num_le->text();
        const Datalog::Range range = Datalog::startRange(begin, end);
        ui->begin_num_le->setText(begin);
        ui->end_num_le->setText(end);
        m_reader->start(range.begin, range.end);
        setButtonText();
        return;
    }
    // Stop. A record answer still on its way is stored when it comes (its
    // read was sent), but nothing more is asked for.
    m_reader->stop();
}

void BmsDatalog::finishRun(bool complete)
{
    setButtonText();
    showProgress();
    // The widths were set by the first row; the run has shown the rest.
    fitColumns();
    emit readingEnded(complete);
}

void BmsDatalog::insertRecord(int record)
{
    // A record the database does not take now waits and is stored, in
    // order, once it does (as a history sample would); it is shown when
    // stored, and the run goes on meanwhile.
    const BmsLiveData &live = liveData();
    m_queue->submit(Datalog::recordValues(record, live.recordRegisters, serialText(live)));
}

void BmsDatalog::showProgress()
{
    const int total = m_reader ? m_reader->total() : 0, done = m_reader ? m_reader->done() : 0;
    const bool visible = isReading() && total > 0;
    ui->progressBar->setVisible(visible);
    ui->progress_lb->setVisible(visible);
    if (!visible)
        return;
    ui->progressBar->setRange(0, total);
    ui->progressBar->setValue(done);
    const qint64 left = Datalog::msLeft(m_reader->elapsedMs(), done, total);
    ui->progress_lb->setText(Datalog::progressText(qMin(done + 1, total), total, left, languageIndex(m_language)));
}

// --- Table --------------------------------------------------------------------

void BmsDatalog::sortByColumn(int n) { sortRecordView(m_model, n, m_lastSortDescending); }

void BmsDatalog::languageChange()
{
    const int language = languageIndex(m_language);
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
    exportTable(this, ui->tableWidget, chineseHeaders, chineseHeaders.size(), m_language);
}

void BmsDatalog::on_clearBtn_clicked() { m_queue->clearTable(); }

void BmsDatalog::setLanguage(Language language)
{
    m_language = language;
    m_model->setLanguage(language);
}
