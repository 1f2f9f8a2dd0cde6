#include "pages/pandidrw.h"

#include "gui/dialogs.h"
#include "protocol/addresscommands.h"
#include "model/livedata.h"
#include "model/valueformat.h"
#include "ui_pandidrw.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QTimer>

using namespace AddressCommands;

PAndIdRW::PAndIdRW(QWidget *parent) : QWidget(parent), ui(new Ui::PAndIdRW)
{
    ui->setupUi(this);

    // The ID is typed or picked: digits only, no leading zero, at most 64.
    auto *idEdit = new QLineEdit(this);
    idEdit->setAlignment(Qt::AlignCenter);
    idEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[1-9]+[0-9]")), idEdit));
    ui->rw_id_cb->setLineEdit(idEdit);
    // Enter does not add a typed number to the list of IDs.
    ui->rw_id_cb->setInsertPolicy(QComboBox::NoInsert);
    connect(idEdit, &QLineEdit::textEdited, this, &PAndIdRW::limitId);

    // The protocols can only be picked from the lists the pack sends.
    for (QComboBox *list : {ui->rw_485_cb, ui->rw_can_cb}) {
        auto *edit = new QLineEdit(this);
        edit->setAlignment(Qt::AlignCenter);
        edit->setReadOnly(true);
        list->setLineEdit(edit);
    }


    connect(this, &PAndIdRW::languageSwich, this, &PAndIdRW::languageChange);
}

PAndIdRW::~PAndIdRW()
{
    delete ui;
}

void PAndIdRW::limitId(const QString &text)
{
    const QString limited = limitedIdText(text);
    if (limited != text)
        ui->rw_id_cb->lineEdit()->setText(limited);
}

// --- Commands ---------------------------------------------------------------

void PAndIdRW::setSession(BmsSession *session)
{
    m_session = session;
    m_commands = session->commands();
    connect(m_commands, &AddressCommander::idRead, this, &PAndIdRW::showId);
    connect(m_commands, &AddressCommander::protocolsRead, this, &PAndIdRW::showProtocols);
    connect(m_commands, &AddressCommander::setConfirmed, this, [this] {
        // The pack only takes a new setting on its next start.
        showBoxLater(QMessageBox::Information, QStringLiteral("Successful"),
                     QStringLiteral("id modify successfully!!!\r\nPlease restart the battery.!!!"));
    });
    connect(m_commands, &AddressCommander::setUnconfirmed, this, &PAndIdRW::unconfirmed);
}

void PAndIdRW::search(Code code, QComboBox *list, QPushButton *modify)
{
    list->clear();
    modify->setEnabled(false);
    m_commands->read(code);
}

void PAndIdRW::on_current_id_clicked() { search(ReadId, ui->rw_id_cb, ui->select_id); }
void PAndIdRW::on_current_485_clicked() { search(ReadRs485Protocol, ui->rw_485_cb, ui->select_485); }
void PAndIdRW::on_current_can_clicked() { search(ReadCanProtocol, ui->rw_can_cb, ui->select_can); }

void PAndIdRW::on_select_id_clicked()
{
    const int id = idToSend(ui->rw_id_cb->currentText());
    if (id < 0) {
        // A pack given an ID outside the tool's range could no longer be
        // reached by it.
        const int lang = languageIndex(m_language);
        Dialogs::message(this, QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                         pickText(lang, QStringLiteral("ID必须在1到64之间!!!"),
                                  QStringLiteral("The ID must be from 1 to 64!!!")));
        return;
    }
    // The ID command names no pack: every pack on the line takes the new
    // ID, and packs that share one can no longer be told apart.
    if (m_session && m_session->addresses().size() > 1) {
        const int lang = languageIndex(m_language);
        if (!Dialogs::confirm(this, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                              pickText(lang, QStringLiteral("设置ID的命令不带地址，总线上的每个电池组都会改为 ID %1。\r\n"
                                                            "请只连接要设置的电池组，再设置。"),
                                       QStringLiteral("The ID command carries no address: every pack on the line "
                                                      "takes ID %1.\r\nConnect only the pack to be set, then set it."))
                                  .arg(id),
                              pickText(lang, QStringLiteral("仍然设置"), QStringLiteral("Set anyway")),
                              pickText(lang, QStringLiteral("取消"), QStringLiteral("Cancel"))))
            return;
    }
    m_commands->set(SetId, quint8(id));
}

void PAndIdRW::on_select_485_clicked()
{
    // With nothing picked there is no index to send.
    if (ui->rw_485_cb->currentIndex() >= 0)
        m_commands->set(SetRs485Protocol, quint8(ui->rw_485_cb->currentIndex()));
}

void PAndIdRW::on_select_can_clicked()
{
    if (ui->rw_can_cb->currentIndex() >= 0)
        m_commands->set(SetCanProtocol, quint8(ui->rw_can_cb->currentIndex()));
}

// --- Answers ----------------------------------------------------------------

void PAndIdRW::showId(int id)
{
    for (int i = MinId; i <= MaxId; ++i)
        ui->rw_id_cb->addItem(QString::number(i));
    ui->select_id->setEnabled(true);
    // Shown as received, even outside 1..64: Modify refuses to send it.
    if (id >= 0)
        ui->rw_id_cb->setEditText(QString::number(id));
}

void PAndIdRW::showProtocols(Code code, const ProtocolList &protocols)
{
    QComboBox *list = code == ReadRs485Protocol ? ui->rw_485_cb : ui->rw_can_cb;
    list->addItems(protocols.names);
    list->setCurrentIndex(protocols.current);
    (code == ReadRs485Protocol ? ui->select_485 : ui->select_can)->setEnabled(true);
}

void PAndIdRW::unconfirmed()
{
    const int lang = languageIndex(m_language);
    showBoxLater(QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                 pickText(lang, QStringLiteral("电池没有确认修改!!!\r\n请检查连接后重试。"),
                          QStringLiteral("The battery did not confirm the change!!!\r\nPlease check the connection and try again.")));
}

void PAndIdRW::showBoxLater(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // Answers arrive inside the window's dispatcher, which must not run a
    // modal loop: the box opens once the event loop is back.
    QTimer::singleShot(0, this, [this, icon, title, text] {
        Dialogs::message(this, icon, title, text, QMessageBox::Ok);
    });
}

// --- Language ---------------------------------------------------------------

void PAndIdRW::languageChange()
{
    const int lang = languageIndex(m_language);
    ui->rw_id_lb->setText(QStringLiteral("ID"));
    ui->rw_485_lb->setText(pickText(lang, QStringLiteral("485协议"), QStringLiteral("485 Protocol")));
    ui->rw_can_lb->setText(pickText(lang, QStringLiteral("can协议"), QStringLiteral("CAN Protocol")));
    const QString search = pickText(lang, QStringLiteral("查找"), QStringLiteral("Search"));
    const QString modify = pickText(lang, QStringLiteral("修改"), QStringLiteral("Modify"));
    for (QPushButton *button : {ui->current_id, ui->current_485, ui->current_can})
        button->setText(search);
    for (QPushButton *button : {ui->select_id, ui->select_485, ui->select_can})
        button->setText(modify);
}

void PAndIdRW::setLanguage(Language language)
{
    m_language = language;
}
