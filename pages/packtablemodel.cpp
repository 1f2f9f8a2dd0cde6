#include "pages/packtablemodel.h"

#include "model/monitordata.h"
#include "model/valueformat.h"
#include "protocol/registers.h"
#include "session/bmssession.h"

#include <QBrush>
#include <QColor>

namespace {

struct Header
{
    const char *chinese;
    const char *english;
};
const Header Headers[PackTableModel::ColumnCount] = {
    {"ID", "ID"},
    {"序列号", "Serial"},
    {"状态", "State"},
    {"SOC(%)", "SOC (%)"},
    {"总电压(V)", "Voltage (V)"},
    {"电流(A)", "Current (A)"},
    {"最高单体(V)", "Highest cell (V)"},
    {"最低单体(V)", "Lowest cell (V)"},
    {"压差(mV)", "Spread (mV)"},
    {"最高温度(℃)", "Highest temp (°C)"},
    {"告警", "Warnings"},
    {"保护", "Protections"},
    {"故障", "Errors"},
    {"通信", "Link"},
};

int bitsSet(quint16 word)
{
    int n = 0;
    for (; word; word &= quint16(word - 1))
        ++n;
    return n;
}

} // namespace

PackTableModel::PackTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void PackTableModel::setSession(BmsSession *session)
{
    m_session = session;
    reset();
}

void PackTableModel::setLanguage(Language language)
{
    m_language = language;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!m_ids.isEmpty())
        emit dataChanged(index(0, 0), index(m_ids.size() - 1, ColumnCount - 1));
}

void PackTableModel::reset()
{
    beginResetModel();
    m_ids = m_session ? m_session->addresses() : QVector<quint8>();
    m_seen.fill(false, m_ids.size());
    endResetModel();
}

int PackTableModel::rowOf(quint8 id) const { return m_ids.indexOf(id); }

void PackTableModel::packChanged(quint8 id)
{
    const int row = rowOf(id);
    if (row < 0)
        return;
    if (m_session && m_session->isPackOnline(id))
        m_seen[row] = true;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int PackTableModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_ids.size(); }

int PackTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant PackTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    const Header &h = Headers[section];
    return QString::fromUtf8(m_language == Language::English ? h.english : h.chinese);
}

QVariant PackTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_session || !index.isValid() || index.row() >= m_ids.size())
        return {};
    const quint8 id = m_ids[index.row()];
    const int column = index.column();
    const bool english = m_language == Language::English;
    if (role == IdRole)
        return int(id);
    const bool online = m_session->isPackOnline(id);
    if (column == Id)
        return role == Qt::DisplayRole || role == SortRole ? QVariant(int(id)) : QVariant();
    if (column == Link) {
        if (role == Qt::DisplayRole || role == SortRole)
            return online ? (english ? QStringLiteral("Online") : QStringLiteral("在线"))
                          : (english ? QStringLiteral("Offline") : QStringLiteral("离线"));
        if (role == Qt::BackgroundRole)
            return QBrush(online ? QColor(Qt::green) : QColor(Qt::lightGray));
        return {};
    }
    // Nothing to show of a pack that never answered.
    if (!m_seen.value(index.row()))
        return {};
    const BmsLiveData &live = m_session->packData(id);
    const quint16 *r = live.registerImage;
    const CellExtremes cells = cellVoltageExtremes(live);
    const int spread = cells.valid() ? int(cells.max) - int(cells.min) : 0;
    auto lamp = [&](quint16 bits, const QColor &colour) -> QVariant {
        const int n = bitsSet(bits);
        if (role == Qt::DisplayRole)
            return n ? QVariant(QStringLiteral("%1 (%2)").arg(n).arg(hex4(bits))) : QVariant(QStringLiteral("-"));
        if (role == SortRole)
            return n;
        if (role == Qt::BackgroundRole && n)
            return QBrush(colour);
        return {};
    };
    switch (column) {
    case Warnings:
        return lamp(r[Reg::WarningBits], QColor(Qt::yellow));
    case Protections:
        return lamp(r[Reg::ProtectionBits], QColor(Qt::red));
    case Errors:
        return lamp(r[Reg::ErrorBits], QColor(Qt::red));
    default:
        break;
    }
    if (role != Qt::DisplayRole && role != SortRole && role != Qt::TextAlignmentRole)
        return {};
    if (role == Qt::TextAlignmentRole)
        return column == Serial || column == State ? QVariant() : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    const bool text = role == Qt::DisplayRole;
    switch (column) {
    case Serial:
        return serialText(live);
    case State:
        return operatingStateText(r[Reg::StatusWord], english ? 1 : 0);
    case Soc:
        return int(r[Reg::Soc]);
    case Voltage:
        return text ? QVariant(fixedPoint(r[Reg::TotalVoltage], 2)) : QVariant(int(r[Reg::TotalVoltage]));
    case Current:
        return text ? QVariant(fixedPoint(packCurrent(live), 2)) : QVariant(int(packCurrent(live)));
    case CellHigh:
        if (!cells.valid())
            return {};
        return text ? QVariant(fixedPoint(cells.max, 3)) : QVariant(int(cells.max));
    case CellLow:
        if (!cells.valid())
            return {};
        return text ? QVariant(fixedPoint(cells.min, 3)) : QVariant(int(cells.min));
    case Spread:
        return spread;
    case TempHigh:
        return int(temperatureExtremes(live).max);
    default:
        return {};
    }
}
