#pragma once

#include "model/language.h"
#include "session/bmssession.h"

#include <QByteArray>
#include <QMessageBox>
#include <QWidget>

class QComboBox;
class QPushButton;
class QTimer;
namespace Ui { class PAndIdRW; }

// The address and protocol page: reads and sets the pack's bus ID and the
// protocols of its RS485 and CAN ports with the BMS's own commands. It owns
// no connection: the session's AddressCommander sends them and says what
// the pack answered.
class PAndIdRW : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit PAndIdRW(QWidget *parent = nullptr);
    ~PAndIdRW() override;

    // The commands go through the session's commander. Set once, before use.
    void setSession(BmsSession *session);

signals:
    void languageSwich();

public slots:
    void on_current_id_clicked();
    void on_select_id_clicked();
    void on_current_485_clicked();
    void on_select_485_clicked();
    void on_current_can_clicked();
    void on_select_can_clicked();
    void languageChange();

private:
    BmsSession *m_session = nullptr;
    void limitId(const QString &text);
    void search(AddressCommands::Code code, QComboBox *list, QPushButton *modify);
    void showId(int id);
    void showProtocols(AddressCommands::Code code, const AddressCommands::ProtocolList &protocols);
    void showBoxLater(QMessageBox::Icon icon, const QString &title, const QString &text);
    void unconfirmed();

    Ui::PAndIdRW *ui;
    AddressCommander *m_commands = nullptr;
    Language m_language = Language::Chinese;
};
