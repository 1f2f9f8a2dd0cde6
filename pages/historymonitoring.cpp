#include "pages/historymonitoring.h"

#include "model/livedata.h"
#include "model/valueformat.h"
#include "pages/exporttable.h"
#include "store/packlist.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "store/tablerows.h"

#include "ui_historymonitoring.h"

#include <QApplication>
#include <QComboBox>
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
        notePack(values);
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
    listPacks();
    connect(ui->packCB, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &HistoryMonitoring::showPack);
    loadTable();
}

QComboBox *HistoryMonitoring::packBox() const { return ui->packCB; }

QString HistoryMonitoring::shownPack() const
{
    const int index = ui->packCB->currentIndex();
    return index > 0 ? m_packs.value(index - 1) : QString();
}

void HistoryMonitoring::listPacks()
{
    // Read once here and after Clear; new serials come with their samples.
    const QString shown = shownPack();
    m_packs = PackList::serials(database);
    const QSignalBlocker blocker(ui->packCB);
    while (ui->packCB->count() > 1)
        ui->packCB->removeItem(1);
    ui->packCB->addItems(m_packs);
    const int index = m_packs.indexOf(shown) + 1;
    ui->packCB->setCurrentIndex(index);
    if (index == 0 && !shown.isEmpty())
        m_model->setFilter(-1, QVariant());
}

void HistoryMonitoring::showPack(int index)
{
    if (index > 0)
        m_model->setFilter(HistoryRow::BmsIsdn, m_packs.value(index - 1));
    else
        m_model->setFilter(-1, QVariant());
    fitColumns();
}

void HistoryMonitoring::notePack(const QVector<QVariant> &values)
{
    const int at = PackList::insertSorted(m_packs, PackList::serialOf(values));
    if (at >= 0) {
        const QSignalBlocker blocker(ui->packCB);
        ui->packCB->insertItem(at + 1, m_packs.at(at));
    }
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
    if (language == 0 || language == 1) {
        ui->lb_pack->setText(pickText(language, QStringLiteral("电池组："), QStringLiteral("Pack:")));
        ui->packCB->setItemText(0, pickText(language, QStringLiteral("全部"), QStringLiteral("All")));
    }
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

void HistoryMonitoring::on_clearBtn_clicked()
{
    m_queue->clearTable();
    listPacks();
}

void HistoryMonitoring::setLanguage(Language language)
{
    m_language = language;
    m_model->setLanguage(language);
}
