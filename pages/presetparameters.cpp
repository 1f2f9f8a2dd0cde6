#include "pages/presetparameters.h"

#include "gui/dialogs.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/parametermap.h"
#include "model/parameterset.h"
#include "model/result.h"
#include "model/valueformat.h"
#include "ui_presetparameters.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

namespace {
QString latin(const char *text) { return QString::fromUtf8(text); }
} // namespace

PresetParameters::PresetParameters(QWidget *parent)
    : QWidget(parent), ui(new Ui::PresetParameters)
{
    ui->setupUi(this);

    for (const Param::Group &g : Param::groups())
        m_groupBoxes << findChild<QCheckBox *>(latin(g.name));
    for (const Param::Field &f : Param::fields())
        m_fields.insert(latin(f.name), findChild<QLineEdit *>(latin(f.name)));

    for (QCheckBox *box : findChildren<QCheckBox *>())
        connect(box, &QCheckBox::toggled, this, &PresetParameters::checkChange);

    clockTimer = new QTimer(this);
    connect(clockTimer, &QTimer::timeout, this, &PresetParameters::updateClock);
    clockTimer->start(1000);
    // Shown from the start, not a second later: a history sample taken in
    // the first second (a quick poll on a test rig) is stamped too.
    updateClock();

    connect(this, &PresetParameters::languageSwich, this, &PresetParameters::languageChange);
    // A time typed by the user is written as typed.
    connect(ui->BMS_TIME, &QLineEdit::textEdited, this, [this] { m_clockFromPc = false; });

    m_waitBox = new QMessageBox(QMessageBox::Information, QStringLiteral("正在写入"),
                                QStringLiteral("请稍后..."), QMessageBox::Ok, this,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    m_waitBox->setStyleSheet(QStringLiteral("QLabel{min-width:80px;min-height:40px; font-size:13px;}"));
    m_waitBox->button(QMessageBox::Ok)->hide();
    m_waitBox->setModal(false);

    connect(ui->fastWrite, &QCheckBox::toggled, this, &PresetParameters::setFastWrite);
}

PresetParameters::~PresetParameters() { delete ui; }

QString PresetParameters::formatClock(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

void PresetParameters::updateClock()
{
    m_clockText = formatClock(QDateTime::currentDateTime());
    ui->CURRENT_TIME->setText(m_clockText);
}

void PresetParameters::setSession(BmsSession *session)
{
    m_session = session;
    writer()->setFast(ui->fastWrite->isChecked());
    connect(writer(), &ParameterWriter::ended, this, &PresetParameters::writeEnded);
    connect(session, &BmsSession::parametersRead, this, &PresetParameters::parametersRead);
}

ParameterWriter *PresetParameters::writer() const { return m_session->writer(); }

void PresetParameters::setFastWrite(bool on)
{
    if (ui->fastWrite->isChecked() != on)
        ui->fastWrite->setChecked(on); // comes back here through toggled
    else if (m_session)
        writer()->setFast(on);
}

bool PresetParameters::isBusy() const { return m_reading || writer()->busy(); }

void PresetParameters::updateButtons()
{
    const bool idle = !isBusy();
    ui->collect->setEnabled(m_online && idle);
    ui->factory_reset->setEnabled(m_online && idle);
    ui->set->setEnabled(m_online && idle);
    ui->openSet->setEnabled(idle);
}

void PresetParameters::enableButtons()
{
    m_online = true;
    updateButtons();
}

void PresetParameters::disableButtons()
{
    m_online = false;
    m_reading = false;
    updateButtons();
}

// --- Reading ----------------------------------------------------------------

void PresetParameters::on_collect_clicked()
{
    // One conversation at a time: a read does not cut into a write.
    if (isBusy())
        return;
    // The next poll tick reads registers 45..135.
    m_session->readParameters(ui->fastWrite->isChecked());
    m_reading = true;
    updateButtons();
}

void PresetParameters::parametersRead()
{
    m_reading = false;
    // The read before a write: the groups being written keep the texts
    // they are written with, the others show what the pack holds.
    if (writer()->state() == ParameterWriter::State::PreReading)
        showParameters(~writer()->requestedGroups());
    else
        showParameters();
    updateButtons();
    emit parametersShown();
}

void PresetParameters::showParameters(unsigned groupMask)
{
    const quint16 *image = liveData().registerImage;
    for (const Param::Field &f : Param::fields()) {
        if (!(groupMask & (1u << f.group)))
            continue;
        QLineEdit *edit = m_fields.value(latin(f.name));
        if (f.scale == Param::Scale::Clock) {
            m_clockFromPc = false; // the field now shows the pack's clock
            edit->setText(Param::clockText(image[Param::ClockHigh], image[Param::ClockLow]));
        } else {
            edit->setText(Param::fieldText(f.scale, image[f.reg]));
        }
    }
    // Every field shows the pack's values: no set's any more.
    if (groupMask == ~0u)
        m_setModel.clear();
}

// --- Check boxes ------------------------------------------------------------

void PresetParameters::on_selectAll_clicked(bool checked)
{
    for (QCheckBox *box : findChildren<QCheckBox *>())
        if (box != ui->fastWrite) // the pace is no group
            box->setChecked(checked);
}

void PresetParameters::checkChange()
{
    // Each group's fields are the line edits of its check box's group box;
    // selectAll sits in the button row and has no fields of its own.
    for (QCheckBox *box : qAsConst(m_groupBoxes)) {
        QWidget *group = box->parentWidget();
        for (QLineEdit *edit : group->findChildren<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly))
            edit->setReadOnly(!box->isChecked());
    }
}

unsigned PresetParameters::tickedGroups() const
{
    unsigned mask = 0;
    for (int i = 0; i < m_groupBoxes.size(); ++i)
        if (m_groupBoxes[i]->isChecked())
            mask |= 1u << i;
    return mask;
}

void PresetParameters::tickGroups(unsigned mask)
{
    for (int i = 0; i < m_groupBoxes.size(); ++i)
        m_groupBoxes[i]->setChecked(mask & (1u << i));
    ui->selectAll->setChecked(false);
}

// --- Writing ----------------------------------------------------------------

void PresetParameters::on_set_clicked() { startWrite(); }
void PresetParameters::on_factory_reset_clicked() { startFactoryReset(); }

void PresetParameters::showRefusal(QLineEdit *field, const QString &label, const QString &text, const QString &why,
                                   bool saving)
{
    const int lang = languageIndex(m_language);
    field->setFocus();
    field->selectAll();
    Dialogs::message(window(), QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")),
                     saving ? pickText(lang, QStringLiteral("%1 \"%2\"：%3。参数组未保存。"),
                                       QStringLiteral("%1 \"%2\": %3. The set was not saved.")).arg(label, text, why)
                            : pickText(lang, QStringLiteral("%1 \"%2\"：%3。未发送任何参数。"),
                                       QStringLiteral("%1 \"%2\": %3. Nothing was sent.")).arg(label, text, why));
}

bool PresetParameters::refuseUnsafe(unsigned mask, bool factory, bool saving)
{
    const int lang = languageIndex(m_language);
    for (int gi = 0; gi < Param::groupCount(); ++gi) {
        if (!(mask & (1u << gi)))
            continue;
        for (const Param::Field &f : Param::fields()) {
            if (f.group != gi)
                continue;
            // A factory reset writes fixed values, except the heating
            // temperatures as shown and the PC's clock.
            if (factory && f.factory >= 0)
                continue;
            QLineEdit *edit = m_fields.value(latin(f.name));
            QString label = lang == 0 ? latin(f.labelZh) : latin(f.labelEn);
            if (factory && f.scale == Param::Scale::Clock) {
                edit = ui->CURRENT_TIME;
                label = lang == 0 ? QStringLiteral("当前时间") : QStringLiteral("Now Time");
            }
            const Param::Parsed p = Param::parseField(f.scale, edit->text());
            if (!p.ok()) {
                showRefusal(edit, label, edit->text(), Param::errorText(p.error, lang), saving);
                return true;
            }
        }
    }
    return false;
}

bool PresetParameters::startWrite()
{
    if (isBusy())
        return false;
    const unsigned mask = tickedGroups();
    if (mask == 0) {
        // Only selectAll ticked counts as nothing ticked: no frame to send.
        m_waitBox->close();
        showHint();
        return false;
    }
    if (refuseUnsafe(mask, false))
        return false;
    ParameterWriter::Request write;
    write.mask = mask;
    write.clockFromPc = m_clockFromPc;
    write.setModel = m_setModel;
    for (const Param::Field &f : Param::fields()) {
        if (!(mask & (1u << f.group)))
            continue;
        const Param::Parsed p = Param::parseField(f.scale, m_fields.value(latin(f.name))->text());
        write.values.insert(f.reg, p.value);
        if (f.scale == Param::Scale::Clock)
            write.values.insert(Param::ClockLow, p.low);
    }
    return beginWrite(write);
}

bool PresetParameters::startFactoryReset()
{
    if (isBusy())
        return false;
    const unsigned mask = tickedGroups();
    if (mask == 0) {
        showHint();
        return false;
    }
    if (refuseUnsafe(mask, true))
        return false;
    ParameterWriter::Request write;
    write.mask = mask;
    // The PC's time as of when the clock frame goes out, the last of the
    // sequence, not as of the click.
    write.clockFromPc = true;
    for (const Param::Field &f : Param::fields()) {
        if (!(mask & (1u << f.group)))
            continue;
        if (f.factory >= 0)
            write.values.insert(f.reg, quint16(f.factory));
        else if (f.scale == Param::Scale::Temp) // heating: as shown
            write.values.insert(f.reg, Param::parseField(f.scale, m_fields.value(latin(f.name))->text()).value);
    }
    return beginWrite(write);
}

bool PresetParameters::beginWrite(const ParameterWriter::Request &write)
{
    m_waitBox->show();
    const bool started = writer()->request(write, [this](const ParameterWriter::Concerns &c) { return confirm(c); });
    if (!started)
        m_waitBox->close();
    updateButtons();
    return started;
}

bool PresetParameters::confirm(const ParameterWriter::Concerns &concerns)
{
    const int lang = languageIndex(m_language);
    const QString text = pickText(lang, QStringLiteral("这些设置可能损坏电池组：\n\n%1\n\n仍然写入？"),
                                  QStringLiteral("These settings may harm the pack:\n\n%1\n\nWrite anyway?"))
                             .arg(concerns.lines(false, lang).join(QLatin1Char('\n')));
    return Dialogs::confirm(window(), pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")), text,
                            pickText(lang, QStringLiteral("仍然写入"), QStringLiteral("Write anyway")),
                            pickText(lang, QStringLiteral("取消"), QStringLiteral("Cancel")));
}

void PresetParameters::writeEnded(const ParameterWriter::Report &report)
{
    m_waitBox->close();
    updateButtons();
    const int lang = languageIndex(m_language);
    // Cancelled in the box: the user knows, nothing was sent.
    if (report.end == ParameterWriter::End::Cancelled)
        return;
    const QMessageBox::Icon icon = report.success() ? QMessageBox::Information : QMessageBox::Critical;
    const QString title = report.success() ? pickText(lang, QStringLiteral("成功"), QStringLiteral("successful"))
                                           : pickText(lang, QStringLiteral("失败"), QStringLiteral("error"));
    const QString text = report.success()
        ? pickText(lang, QStringLiteral("参数修改成功!!!"), QStringLiteral("Parameter modification was successful!!!"))
        : pickText(lang, QStringLiteral("参数修改失败!!!"), QStringLiteral("Parameter modification was failed!!!"))
              + QLatin1Char('\n') + report.text(false, lang);
    if (m_reportAtOnce) {
        m_reportAtOnce = false;
        Dialogs::message(window(), icon, title, text);
    } else if (!m_reportOpen) {
        // Ended from the link's paths: the box opens after they return, and
        // sequences ended while it is open pile no further boxes on it.
        m_reportOpen = true;
        Dialogs::notify(window(), icon, title, text, [this] { m_reportOpen = false; });
    }
}

void PresetParameters::showHint()
{
    const int lang = languageIndex(m_language);
    if (lang == 1)
        Dialogs::question(window(), QStringLiteral("Clues"),
                          QStringLiteral("If you want to restore the parameters or modify the parameters, please check the corresponding options!!!"));
    else if (lang == 0)
        Dialogs::question(window(), QStringLiteral("提示"), QStringLiteral("如需恢复参数或修改参数请为其对应的选项打勾!!!"),
                          {QStringLiteral("是"), QStringLiteral("否")});
}

// --- Parameter sets ---------------------------------------------------------

QString PresetParameters::setFileProblem(const QString &fileName, const QString &where, const QString &what)
{
    const int lang = languageIndex(m_language);
    const QString text = pickText(lang, QStringLiteral("参数组文件 %1 未被采用（%2）：%3"),
                                  QStringLiteral("Parameter set %1 refused (%2): %3"))
                             .arg(QFileInfo(fileName).fileName(), where, what);
    Dialogs::message(window(), QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")), text);
    return text;
}

QString PresetParameters::saveSetTo(const QString &fileName)
{
    const unsigned mask = tickedGroups();
    const int lang = languageIndex(m_language);
    if (refuseUnsafe(mask & ~(1u << Param::timeSetGroup()), false, true))
        return pickText(lang, QStringLiteral("字段无效"), QStringLiteral("a field cannot be saved"));
    ParamSet::Set set;
    set.model = modelText();
    set.serial = serialText();
    set.saved = formatClock(QDateTime::currentDateTime());
    for (int i = 0; i < Param::groupCount(); ++i)
        if (mask & (1u << i))
            set.groups << latin(Param::groups()[i].name);
    for (const Param::Field &f : Param::fields())
        if (f.scale != Param::Scale::Clock && (mask & (1u << f.group)))
            set.values.insert(latin(f.name), m_fields.value(latin(f.name))->text());
    QSaveFile file(fileName);
    Result saved = SafeSave::open(file);
    if (saved.ok())
        saved = SafeSave::write(file, ParamSet::serialize(set));
    if (saved.ok())
        saved = SafeSave::commit(file);
    if (!saved.ok()) {
        const QString text = pickText(lang, QStringLiteral("无法保存参数组 %1：%2"), QStringLiteral("cannot save %1: %2"))
                                 .arg(fileName, saved.error());
        Dialogs::message(window(), QMessageBox::Warning, pickText(lang, QStringLiteral("警告"), QStringLiteral("Warning")), text);
        return text;
    }
    return QString();
}

QString PresetParameters::openSetFrom(const QString &fileName, ParamSet::Set *opened)
{
    if (isBusy())
        return QString();
    ParamSet::Problem problem;
    const ParamSet::Set set = ParamSet::load(fileName, &problem);
    if (!problem.isNull())
        return setFileProblem(fileName, problem.where, problem.what);
    for (auto it = set.values.constBegin(); it != set.values.constEnd(); ++it)
        m_fields.value(it.key())->setText(it.value());
    const unsigned mask = ParamSet::groupMask(set);
    // A stored time would be stale: the clock is set from the PC's.
    m_clockFromPc = mask & (1u << Param::timeSetGroup());
    if (m_clockFromPc)
        ui->BMS_TIME->setText(formatClock(QDateTime::currentDateTime()));
    // A write asks first when the pack turns out to be another model.
    m_setModel = set.model;
    tickGroups(mask);
    if (opened)
        *opened = set;
    return QString();
}

void PresetParameters::on_saveSet_clicked()
{
    const int lang = languageIndex(m_language);
    if (tickedGroups() == 0) {
        showHint();
        return;
    }
    const QString name = Dialogs::saveFileName(window(), pickText(lang, QStringLiteral("保存参数组"), QStringLiteral("Save Parameter Set")),
                                               pickText(lang, QStringLiteral("参数组(*.json)"), QStringLiteral("Parameter Set(*.json)")));
    if (!name.isEmpty())
        saveSetTo(name);
}

void PresetParameters::on_openSet_clicked()
{
    const int lang = languageIndex(m_language);
    const QString name = Dialogs::openFileName(window(), pickText(lang, QStringLiteral("打开参数组"), QStringLiteral("Open Parameter Set")),
                                               pickText(lang, QStringLiteral("参数组(*.json)"), QStringLiteral("Parameter Set(*.json)")));
    if (!name.isEmpty())
        openSetFrom(name);
}

// --- Language ---------------------------------------------------------------

void PresetParameters::languageChange()
{
    const int lang = languageIndex(m_language);
    const bool zh = lang == 0;
    for (int i = 0; i < m_groupBoxes.size(); ++i)
        m_groupBoxes[i]->setText(latin(zh ? Param::groups()[i].labelZh : Param::groups()[i].labelEn));
    for (const Param::Field &f : Param::fields())
        if (QLabel *label = findChild<QLabel *>(QStringLiteral("LB_") + latin(f.name)))
            label->setText(latin(zh ? f.labelZh : f.labelEn));
    ui->LB_CURRENT_TIME->setText(pickText(lang, QStringLiteral("当前时间"), QStringLiteral("Now Time")));
    ui->selectAll->setText(pickText(lang, QStringLiteral("选择所有"), QStringLiteral("Select All")));
    ui->collect->setText(pickText(lang, QStringLiteral("采集参数"), QStringLiteral("Read")));
    ui->set->setText(pickText(lang, QStringLiteral("设置参数"), QStringLiteral("Write")));
    ui->factory_reset->setText(pickText(lang, QStringLiteral("恢复出厂设置"), QStringLiteral("Restore Factory Date")));
    ui->saveSet->setText(pickText(lang, QStringLiteral("保存参数组…"), QStringLiteral("Save set…")));
    ui->openSet->setText(pickText(lang, QStringLiteral("打开参数组…"), QStringLiteral("Open set…")));
    ui->fastWrite->setText(pickText(lang, QStringLiteral("快速"), QStringLiteral("Fast")));
    m_waitBox->setWindowTitle(pickText(lang, QStringLiteral("正在写入"), QStringLiteral("Writring")));
    m_waitBox->setText(pickText(lang, QStringLiteral("请稍后..."), QStringLiteral("Please Wait...")));
}

void PresetParameters::setLanguage(Language language)
{
    m_language = language;
}
