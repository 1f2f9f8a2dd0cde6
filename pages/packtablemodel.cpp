#include "pages/packtablemodel.h"

#include "model/alarmbits.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "protocol/registers.h"
#include "session/bmssession.h"

#include <QBrush>
#include <QColor>
#include <QStringList>
#include <QVariantList>

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
    {"SOC(%)", "SOC\n(%)"},
    {"总电压\n(V)", "Voltage\n(V)"},
    {"电流\n(A)", "Current\n(A)"},
    {"最高单体\n(V)", "Cell\nmax (V)"},
    {"最低单体\n(V)", "Cell\nmin (V)"},
    {"压差\n(mV)", "Spread\n(mV)"},
    {"最高温度\n(℃)", "Temp\nmax (°C)"},
    {"警/保/故", "W/P/E"},
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
    if (orientation == Qt::Horizontal && section == Alarms && role == Qt::ToolTipRole)
        return m_language == Language::English ? QStringLiteral("Warnings / Protections / Errors")
                                               : QStringLiteral("告警 / 保护 / 故障");
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
    if (column == Alarms) {
        // Three lamps: warnings on yellow, protections and errors on red;
        // sorted by the worst lit, then by how many bits are set; the tip
        // names every bit set.
        const AlarmBits::Group groups[] = {AlarmBits::Group::Warning, AlarmBits::Group::Protection,
                                           AlarmBits::Group::Error};
        const char *const titles[][2] = {{"告警", "Warnings"}, {"保护", "Protections"}, {"故障", "Errors"}};
        QVariantList words;
        int rank = 0;
        QStringList tip;
        for (int g = 0; g < 3; ++g) {
            const AlarmBits::List &list = AlarmBits::bits(groups[g]);
            const quint16 bits = r[list.reg];
            words << int(bits);
            if (bits)
                rank += (1 << (g + 5)) + bitsSet(bits);
            QStringList names;
            for (int bit = 0; bit < 16; ++bit) {
                if (bits >> bit & 1)
                    names << (bit < list.count ? QString::fromUtf8(english ? list.bits[bit].english : list.bits[bit].chinese)
                                               : QString::fromLatin1(AlarmBits::key(groups[g], bit)));
            }
            if (!names.isEmpty())
                tip << QString::fromUtf8(titles[g][english ? 1 : 0]) + (english ? QStringLiteral(": ") : QStringLiteral("："))
                               + names.join(english ? QStringLiteral(", ") : QStringLiteral("、"));
        }
        if (role == LampsRole)
            return words;
        if (role == SortRole)
            return rank;
        if (role == Qt::ToolTipRole && !tip.isEmpty())
            return tip.join(QLatin1Char('\n'));
        if (role == Qt::DisplayRole)
            return QStringLiteral("%1 %2 %3").arg(hex4(quint16(words[0].toInt())), hex4(quint16(words[1].toInt())),
                                                  hex4(quint16(words[2].toInt())));
        return {};
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
