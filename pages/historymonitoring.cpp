#include "pages/historymonitoring.h"

#include "model/livedata.h"
#include "pages/exporttable.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/tablerows.h"

#include "ui_historymonitoring.h"

#include <QApplication>
#include <QHeaderView>

const char *const HistoryMonitoring::HeaderStyle =
    "QHeaderView::section    {"
    "        background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
    "                                              stop:0 #616161, stop: 0.5 #505050,"
    "                                              stop: 0.6 #434343, stop:1 #656565);"
    "        color: white;"
    "        padding-left: 4px;"
    "        border: 1px solid #6c6c6c;"
    "    }"
    "    /*QHeaderView::section:checked    {"
    "        background-color: red;"
    "    }*/";


HistoryMonitoring::HistoryMonitoring(QWidget *parent)
    : QWidget(parent), ui(new Ui::HistoryMonitoring), m_model(new RecordTableModel(RecordTable::history(), this)),
      m_queue(new SampleQueue(m_model, SampleQueue::DefaultCapacity, this))
{
    connect(m_queue, &SampleQueue::stored, this, [this](qint64 id, const QVector<QVariant> &values) {
        // The first row of an empty or freshly cleared table sets the widths.
        if (id == 1)
            fitColumns();
        emit sampleStored(id, values);
    });
    ui->setupUi(this);
    QTableView *view = ui->tableWidget;
    setUpRecordView(view, m_model);

    chineseHeaders = RecordTable::history().chineseHeaders();
    englishHeaders = RecordTable::history().englishHeaders();

    connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this, &HistoryMonitoring::sortByColumn);
    connect(this, &HistoryMonitoring::languageSwich, this, &HistoryMonitoring::languageChange);

    database = QSqlDatabase::database(RecordTable::history().connectionName, true);
    loadTable();
}

HistoryMonitoring::~HistoryMonitoring() { delete ui; }

QTableView *HistoryMonitoring::tableView() const { return ui->tableWidget; }

void HistoryMonitoring::applyHeaderStyle()
{
    ui->tableWidget->horizontalHeader()->setStyleSheet(QString::fromLatin1(HeaderStyle));
}

void HistoryMonitoring::fitColumns() { ui->tableWidget->resizeColumnsToContents(); }

void HistoryMonitoring::loadTable()
{
    m_model->reload();
    applyHeaderStyle();
    fitColumns();
}

QVector<QVariant> HistoryMonitoring::sampleValues() const { return HistoryRow::values(liveData(), sampleTime); }

void HistoryMonitoring::insertSample() { insertSample(liveData()); }

void HistoryMonitoring::insertSample(const BmsLiveData &live)
{
    // A sample the database does not take now waits and is stored, in
    // order, once it does; it is shown when stored.
    m_queue->submit(HistoryRow::values(live, sampleTime));
}

void HistoryMonitoring::sortByColumn(int n) { sortRecordView(m_model, n, m_lastSortDescending); }

void HistoryMonitoring::languageChange()
{
    const int language = languageIndex(m_language);
    if (language == 0) {
        ui->saveBtn->setText(QStringLiteral("保存"));
        ui->clearBtn->setText(QStringLiteral("清空"));
    } else if (language == 1) {
        ui->saveBtn->setText(QStringLiteral("Save"));
        ui->clearBtn->setText(QStringLiteral("Clear"));
    }
    loadTable();
}

void HistoryMonitoring::on_saveBtn_clicked()
{
    exportTable(this, ui->tableWidget, chineseHeaders, chineseHeaders.size(), m_language);
}

void HistoryMonitoring::on_clearBtn_clicked() { m_queue->clearTable(); }

void HistoryMonitoring::setLanguage(Language language)
{
    m_language = language;
    m_model->setLanguage(language);
}
