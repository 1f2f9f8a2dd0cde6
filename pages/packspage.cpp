#include "pages/packspage.h"
#include "ui_packspage.h"

#include "pages/packtablemodel.h"
#include "session/bmssession.h"

#include <QHeaderView>
#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>

namespace {

// The alarm cell: three lamps, like the real-time page's panels in small,
// lit when their word has a bit set (warnings yellow, protections and
// errors red), each with its panel's first letter or character.
class LampsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    Language language = Language::Chinese;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // The cell's background and selection as the style draws them, its
        // text (the words in hex, for the tip and the width) left out.
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        const QWidget *view = option.widget;
        (view ? view->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &plain, painter, view);
        const QVariantList words = index.data(PackTableModel::LampsRole).toList();
        if (words.size() != 3)
            return;
        static const char *const marks[][2] = {{"警", "W"}, {"保", "P"}, {"故", "E"}};
        const QColor lit[] = {QColor(Qt::yellow), QColor(Qt::red), QColor(Qt::red)};
        const int side = qMin(option.rect.height() - 4, LampSide);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < 3; ++i) {
            const QRect lamp(option.rect.left() + 4 + i * (side + 4), option.rect.center().y() - side / 2, side, side);
            const bool on = words[i].toInt() != 0;
            painter->setPen(QColor(Qt::darkGray));
            painter->setBrush(on ? lit[i] : QColor(235, 235, 235));
            painter->drawRoundedRect(lamp, 3, 3);
            painter->setPen(on ? QColor(Qt::black) : QColor(Qt::gray));
            painter->drawText(lamp, Qt::AlignCenter, QString::fromUtf8(marks[i][language == Language::English ? 1 : 0]));
        }
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return QSize(3 * (LampSide + 4) + 8, LampSide + 4);
    }
    static constexpr int LampSide = 16;
};

} // namespace

PacksPage::PacksPage(QWidget *parent)
    : QWidget(parent), ui(new Ui::PacksPage), m_model(new PackTableModel(this)), m_proxy(new QSortFilterProxyModel(this))
{
    ui->setupUi(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(PackTableModel::SortRole);
    // Rows move when a value they are sorted by changes.
    m_proxy->setDynamicSortFilter(true);
    ui->packsTV->setModel(m_proxy);
    m_lamps = new LampsDelegate(this);
    ui->packsTV->setItemDelegateForColumn(PackTableModel::Alarms, m_lamps);
    ui->packsTV->sortByColumn(PackTableModel::Id, Qt::AscendingOrder);
    ui->packsTV->verticalHeader()->hide();
    // Widths follow the contents when a pack first answers and when the
    // language changes, not on every answer: sizing to contents measures
    // every cell's text, sixteen packs a second.
    ui->packsTV->horizontalHeader()->setStretchLastSection(true);
    ui->packsTV->horizontalHeader()->setMinimumSectionSize(24);
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

void PacksPage::showEvent(QShowEvent *event)
{
    // A hidden table measures nothing: the widths are fitted when it shows.
    QWidget::showEvent(event);
    m_fitPending = false;
    ui->packsTV->resizeColumnsToContents();
}

void PacksPage::setSession(BmsSession *session)
{
    m_session = session;
    m_model->setSession(session);
    for (auto signal : {&BmsSession::packOnline, &BmsSession::packSampleRead, &BmsSession::packOffline})
        connect(session, signal, m_model, &PackTableModel::packChanged);
    connect(session, &BmsSession::packOnline, this, [this] { m_fitPending = true; });
    connect(session, &BmsSession::packSampleRead, this, [this] {
        if (m_fitPending && isVisible()) {
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
    static_cast<LampsDelegate *>(m_lamps)->language = language;
    if (isVisible())
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
