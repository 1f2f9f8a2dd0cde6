#pragma once

#include "model/language.h"

#include <QAbstractTableModel>
#include <QVector>

class BmsSession;

// The packs of the line side by side, a row each in the order of the ID
// list: what the last monitoring answer of each said, and whether it is
// online. The rows follow the session; a sort proxy orders them by the
// values under SortRole (numbers as numbers), not by their shown text.
class PackTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        Id, Serial, State, Soc, Voltage, Current, CellHigh, CellLow, Spread, TempHigh,
        Alarms, Link,
        ColumnCount
    };
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int IdRole = Qt::UserRole + 1;
    // The alarm lamps of a pack: its warning, protection and error words
    // (a QVariantList of three), drawn by the page as three lamps.
    static constexpr int LampsRole = Qt::UserRole + 2;

    explicit PackTableModel(QObject *parent = nullptr);

    // Rows for the session's ID list from now on; call again after the list
    // changes.
    void setSession(BmsSession *session);
    void setLanguage(Language language);
    // The row of pack `id`, -1 for one not on the list.
    int rowOf(quint8 id) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

public slots:
    // The ID list may have changed: rows again.
    void reset();
    // Pack `id` answered, went silent or came online: its row again.
    void packChanged(quint8 id);

private:
    BmsSession *m_session = nullptr;
    Language m_language = Language::Chinese;
    QVector<quint8> m_ids;
    // Seen since the rows were made: a pack never seen shows no values.
    QVector<bool> m_seen;
};
