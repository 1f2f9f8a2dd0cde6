#include "pages/packspage.h"
#include "ui_packspage.h"

#include "pages/packtablemodel.h"
#include "session/bmssession.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>

PacksPage::PacksPage(QWidget *parent)
    : QWidget(parent), ui(new Ui::PacksPage), m_model(new PackTableModel(this)), m_proxy(new QSortFilterProxyModel(this))
{
    ui->setupUi(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(PackTableModel::SortRole);
    // Rows move when a value they are sorted by changes.
    m_proxy->setDynamicSortFilter(true);
    ui->packsTV->setModel(m_proxy);
    ui->packsTV->sortByColumn(PackTableModel::Id, Qt::AscendingOrder);
    ui->packsTV->verticalHeader()->hide();
    // Widths follow the contents when a pack first answers and when the
    // language changes, not on every answer: sizing to contents measures
    // every cell's text, sixteen packs a second.
    ui->packsTV->horizontalHeader()->setStretchLastSection(true);
    connect(ui->packsTV->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (!current.isValid() || !m_session || m_showing)
                    return;
                const quint8 id = quint8(current.data(PackTableModel::IdRole).toInt());
                if (id == m_session->selectedPack())
                    return;
                if (!m_session->selectPack(id)) {
                    emit selectRefused();
                    showSelected();
                }
            });
}

PacksPage::~PacksPage() { delete ui; }

void PacksPage::setSession(BmsSession *session)
{
    m_session = session;
    m_model->setSession(session);
    for (auto signal : {&BmsSession::packOnline, &BmsSession::packSampleRead, &BmsSession::packOffline})
        connect(session, signal, m_model, &PackTableModel::packChanged);
    connect(session, &BmsSession::packOnline, this, [this] { m_fitPending = true; });
    connect(session, &BmsSession::packSampleRead, this, [this] {
        if (m_fitPending) {
            m_fitPending = false;
            ui->packsTV->resizeColumnsToContents();
        }
    });
    connect(session, &BmsSession::packSelected, this, &PacksPage::showSelected);
    showSelected();
}

void PacksPage::setLanguage(Language language)
{
    m_language = language;
    m_model->setLanguage(language);
    ui->packsTV->resizeColumnsToContents();
    ui->packsLB->setText(language == Language::English
                             ? QStringLiteral("Select a row: the monitoring, parameter, datalog and address pages then "
                                              "show and act on that pack.")
                             : QStringLiteral("选择一行，实时监控、参数设置、数据记录和地址设置即针对该电池组。"));
}

void PacksPage::reset()
{
    m_model->reset();
    showSelected();
}

bool PacksPage::selectPack(quint8 id)
{
    const int row = m_model->rowOf(id);
    if (row < 0 || !m_session)
        return false;
    ui->packsTV->setCurrentIndex(m_proxy->mapFromSource(m_model->index(row, 0)));
    return m_session->selectedPack() == id;
}

void PacksPage::showSelected()
{
    if (!m_session)
        return;
    const int row = m_model->rowOf(m_session->selectedPack());
    if (row < 0)
        return;
    const QModelIndex index = m_proxy->mapFromSource(m_model->index(row, 0));
    m_showing = true;
    ui->packsTV->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_showing = false;
}
