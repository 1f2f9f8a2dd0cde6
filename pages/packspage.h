#pragma once

#include "model/language.h"

#include <QWidget>

class BmsSession;
class PackTableModel;
class QSortFilterProxyModel;
namespace Ui { class PacksPage; }

// The packs of the line side by side, updated with every answer, sortable
// by any column. Selecting a row makes that pack the one the other pages
// show and act on; the session refuses while a write or a record read runs,
// and the selection then goes back to the pack still selected.
class PacksPage : public QWidget
{
    Q_OBJECT
public:
    explicit PacksPage(QWidget *parent = nullptr);
    ~PacksPage() override;

    void setSession(BmsSession *session);
    void setLanguage(Language language);
    PackTableModel *model() const { return m_model; }
    // Selects pack `id` as a click on its row would; false when refused.
    bool selectPack(quint8 id);

public slots:
    // The session's ID list changed (before monitoring starts).
    void reset();

protected:
    void showEvent(QShowEvent *event) override;

signals:
    // Selecting was refused: a write or a record read runs.
    void selectRefused();

private:
    void showSelected();

    Ui::PacksPage *ui;
    BmsSession *m_session = nullptr;
    PackTableModel *m_model;
    QSortFilterProxyModel *m_proxy;
    class QStyledItemDelegate *m_lamps;
    Language m_language = Language::Chinese;
    bool m_fitPending = false; // a pack came online: widths at its first sample
    bool m_showing = false; // the selection follows the session, no request
};
