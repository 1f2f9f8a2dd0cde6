#include "pages/bmsmonitoring.h"

#include "model/alarmbits.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "ui_bmsmonitoring.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace {

const QString CellMarked = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: green;");
const QString CellPlain = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: white;");
const QString LampYellow = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: yellow;");
const QString LampRed = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: red;");
const QString LampWhite = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: white;");
const QString OnlineStyle = QStringLiteral("background-color: green;");
const QString OfflineStyle = QStringLiteral("background-color: red;");

// The page is redrawn every second for as long as monitoring runs. Setting an
// unchanged text still repaints, and setting an unchanged style sheet even
// re-polishes the widget, so both are only written when they differ.
void putText(QLineEdit *edit, const QString &text)
{
    if (edit->text() != text)
        edit->setText(text);
}

void putStyle(QWidget *widget, const QString &style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

QString number(qint64 value)
{
    return QString::number(value);
}

struct TextPair
{
    const char *zh;
    const char *en;
};

QString pick(const TextPair &pair, Language language)
{
    return pickText(languageIndex(language), QString::fromUtf8(pair.zh), QString::fromUtf8(pair.en));
}

template <typename W>
QVector<W *> childrenByNumber(QWidget *group, const char *pattern, int count)
{
    QVector<W *> found;
    found.reserve(count);
    for (int n = 1; n <= count; ++n)
        found.append(group->findChild<W *>(QString::fromLatin1(pattern).arg(n)));
    return found;
}

} // namespace

BmsMonitoring::BmsMonitoring(QWidget *parent) : QWidget(parent), ui(new Ui::BmsMonitoring)
{
    ui->setupUi(this);
    findWidgets();
    fitFieldWidths();
    showOffline();
    connect(this, &BmsMonitoring::languageSwich, this, &BmsMonitoring::languageChange);
}

BmsMonitoring::~BmsMonitoring() { delete ui; }

void BmsMonitoring::findWidgets()
{
    m_cells = childrenByNumber<QLineEdit>(ui->cell_0, "cell_%1", MaxCells);
    m_cellLabels = childrenByNumber<QLabel>(ui->cell_0, "lb_cell_%1", MaxCells);
    m_sensorLabels = childrenByNumber<QLabel>(ui->temp_0, "lb_temp_%1", 4);
    m_sensorFields = childrenByNumber<QLineEdit>(ui->temp_0, "temp_%1", 4);

    // A panel has as many lamps as it has push buttons; lamp N is the button
    // named "<panel>_N" and shows bit N-1 of the panel's register.
    auto lamps = [](QGroupBox *group, const char *pattern) {
        return childrenByNumber<QPushButton>(group, pattern, group->findChildren<QPushButton *>().size());
    };
    m_warnings = {lamps(ui->warning_0, "warning_%1"), Reg::WarningBits, LampYellow};
    m_protections = {lamps(ui->protection_0, "protection_%1"), Reg::ProtectionBits, LampRed};
    m_errors = {lamps(ui->error_0, "error_%1"), Reg::ErrorBits, LampRed};
}

// Value fields do not grow with their text; make each wide enough for the
// widest text it can get, in whatever font the platform gives.
void BmsMonitoring::fitFieldWidths()
{
    auto fit = [](QLineEdit *edit, const QStringList &samples) {
        int textWidth = 0;
        for (const QString &sample : samples)
            textWidth = qMax(textWidth, edit->fontMetrics().horizontalAdvance(sample));
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        // 2 px of text margin on either side, as QLineEdit draws its text.
        const QSize contents(textWidth + 4 + 2, edit->fontMetrics().height());
        const int needed = edit->style()
                               ->sizeFromContents(QStyle::CT_LineEdit, &option, contents, edit)
                               .width();
        edit->setMinimumWidth(qMax(edit->minimumWidth(), needed));
    };
    fit(ui->com_state, {QStringLiteral("Offline"), QStringLiteral("Online"), QStringLiteral("离线")});
    // Identity texts are mostly capitals and digits; a run of capitals of
    // the full length stands for them.
    const QString capitals = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    fit(ui->model, {capitals.left(Reg::ModelTextBytes)});
    fit(ui->ver, {capitals.left(Reg::VersionTextBytes)});
    fit(ui->serial_num, {capitals.left(Reg::SerialTextBytes)});
    QStringList states;
    for (int language = 0; language <= 1; ++language)
        for (quint16 word : {0x1, 0x2, 0x4, 0x8, 0x0})
            states << operatingStateText(word, language);
    fit(ui->state, states);
    fit(ui->heating_film, {QStringLiteral("Heat off"), QStringLiteral("加热关")});
    fit(ui->vol, {QStringLiteral("655.35")});
    fit(ui->cur, {QStringLiteral("-327.68")});
    for (QLineEdit *edit : {ui->soc, ui->soh, ui->cap_remain, ui->max_chcur, ui->cell_num})
        fit(edit, {QStringLiteral("65535")});
    fit(ui->cap, {QStringLiteral("6553")});
    for (QLineEdit *edit : {ui->max_vol, ui->min_vol, ui->delta_v})
        fit(edit, {QStringLiteral("65.535")});
    for (QLineEdit *edit : {ui->max_temp, ui->min_temp, ui->delta_t})
        fit(edit, {QStringLiteral("-128")});
    for (QLineEdit *edit : {ui->pcb_temp, ui->env_temp})
        fit(edit, {QStringLiteral("-32768")});
    for (QLineEdit *edit : qAsConst(m_sensorFields))
        if (edit)
            fit(edit, {QStringLiteral("-128")});
    for (QLineEdit *edit : qAsConst(m_cells))
        if (edit)
            fit(edit, {QStringLiteral("65.535")});
}

void BmsMonitoring::showOnline()
{
    ui->com_state->setText(pickText(languageIndex(m_language), QStringLiteral("在线"), QStringLiteral("Online")));
    putStyle(ui->com_state, OnlineStyle);
    m_modelText = modelText();
    m_versionText = versionText();
    m_serialText = serialText();
    ui->model->setText(m_modelText);
    ui->ver->setText(m_versionText);
    ui->serial_num->setText(m_serialText);
}

void BmsMonitoring::showOffline()
{
    ui->com_state->setText(pickText(languageIndex(m_language), QStringLiteral("离线"), QStringLiteral("Offline")));
    putStyle(ui->com_state, OfflineStyle);
}

void BmsMonitoring::refreshValues()
{
    const BmsLiveData &live = liveData();
    const quint16 *reg = live.registerImage;

    putText(ui->vol, fixedPoint(reg[Reg::TotalVoltage], 2));
    putText(ui->cur, fixedPoint(packCurrent(live), 2));
    for (int i = 0; i < m_cells.size(); ++i)
        if (m_cells[i])
            putText(m_cells[i], fixedPoint(reg[Reg::CellVoltage + i], 3));
    putText(ui->pcb_temp, number(signedRegister(Reg::PcbTemp, live)));
    putText(ui->env_temp, number(signedRegister(Reg::AmbientTemp, live)));

    const CellExtremes cells = cellVoltageExtremes(live);
    putText(ui->max_vol, fixedPoint(cells.max, 3));
    putText(ui->min_vol, fixedPoint(cells.min, 3));
    // Without cells there is no spread to show: the extremes keep their
    // starting values (0 and 65535) and their difference would be negative.
    const qint32 spread = cells.valid() ? qint32(cells.max) - qint32(cells.min) : 0;
    putText(ui->delta_v, fixedPoint(spread, 3));

    const TemperatureExtremes temps = temperatureExtremes(live);
    putText(ui->max_temp, number(temps.max));
    putText(ui->min_temp, number(temps.min));
    putText(ui->delta_t, number(qAbs(int(temps.max) - int(temps.min))));

    putText(ui->cap_remain, number(reg[Reg::RemainCapacity]));
    putText(ui->max_chcur, number(reg[Reg::MaxChargeCurrent]));
    putText(ui->soh, number(reg[Reg::Soh]));
    putText(ui->soc, number(reg[Reg::Soc]));

    const quint16 status = reg[Reg::StatusWord];
    putText(ui->heating_film,
            (status & 0x8000) ? pickText(languageIndex(m_language), QStringLiteral("加热开"), QStringLiteral("Heat on"))
                              : pickText(languageIndex(m_language), QStringLiteral("加热关"), QStringLiteral("Heat off")));
    putText(ui->state, operatingStateText(status, languageIndex(m_language)));

    for (const LampGroup *group : {&m_warnings, &m_protections, &m_errors}) {
        const quint16 bits = reg[group->registerAddress];
        for (int i = 0; i < group->lamps.size(); ++i) {
            QPushButton *lamp = group->lamps[i];
            // Panels have at most 14 lamps, so bit i always exists.
            if (lamp)
                putStyle(lamp, (bits >> i) & 1 ? group->litStyle : LampWhite);
        }
    }

    putText(ui->cap, number(reg[Reg::FullCapacity] / 10));
    for (int sensor = 1; sensor <= m_sensorFields.size(); ++sensor)
        if (QLineEdit *edit = m_sensorFields[sensor - 1])
            putText(edit, number(sensorTemp(sensor, live)));
    putText(ui->cell_num, number(reg[Reg::CellCount]));

    const quint16 marks = reg[Reg::CellMarkBits];
    for (int i = 0; i < m_cells.size(); ++i)
        if (m_cells[i])
            putStyle(m_cells[i], (marks >> i) & 1 ? CellMarked : CellPlain);
}

void BmsMonitoring::languageChange()
{
    if (liveData().requestKind != IdentityRead)
        showOnline();
    else
        showOffline();

    const auto title = [this](QGroupBox *group, const TextPair &pair) { group->setTitle(pick(pair, m_language)); };
    const auto text = [this](auto *widget, const TextPair &pair) { widget->setText(pick(pair, m_language)); };

    title(ui->model_information, {"模块信息", "Model Information"});
    text(ui->lb_com_state, {"通信状态", "Com State"});
    text(ui->lb_model, {"模块", "Model"});
    text(ui->lb_ver, {"版本号", "Version"});
    text(ui->lb_serial_num, {"序列号", "SN"});
    title(ui->battery_information, {"电池信息", "Battery Information"});
    text(ui->lb_state, {"状态", "Status"});
    text(ui->lb_heating_film, {"加热膜", "Heater"});
    text(ui->lb_vol, {"总电压", "Voltage"});
    text(ui->lb_cur, {"总电流", "Current"});
    text(ui->lb_cap, {"容量", "Capacity"});
    text(ui->lb_cap_remain, {"剩余容量", "Remain C"});
    text(ui->lb_max_vol, {"最大电压", "Max Vol"});
    text(ui->lb_min_vol, {"最小电压", "Min Vol"});
    text(ui->lb_delta_v, {"电压差值", "Vol Diff"});
    text(ui->lb_max_chcur, {"最大充电", "Max C-C"});
    text(ui->lb_max_temp, {"最高温度", "Max Temp"});
    text(ui->lb_min_temp, {"最低温度", "Min Temp"});
    text(ui->lb_delta_t, {"温度差值", "Temp Diff"});
    text(ui->lb_cell_num, {"电池串数", "Cell Num"});
    title(ui->temp_0, {"温度信息（℃）", "Temperature Information（℃）"});
    text(ui->lb_pcb_temp, {"PCB温度", "PCB Temp"});
    text(ui->lb_env_temp, {"环境温度", "Ambient Temp"});
    title(ui->cell_0, {"单体电压（V）", "Voltage（V）"});
    title(ui->error_0, {"故障状态", "Error Status"});
    title(ui->warning_0, {"告警状态", "Warn Status"});
    title(ui->protection_0, {"保护状态", "Protect Status"});

    const int language = languageIndex(m_language);
    for (int i = 0; i < m_sensorLabels.size(); ++i)
        if (m_sensorLabels[i])
            m_sensorLabels[i]->setText(
                pickText(language, QStringLiteral("温度0%1"), QStringLiteral("Temp0%1")).arg(i + 1));
    for (int i = 0; i < m_cellLabels.size(); ++i)
        if (m_cellLabels[i])
            m_cellLabels[i]->setText(pickText(language, QStringLiteral("电池%1"), QStringLiteral("Cell%1"))
                                         .arg(i + 1, 2, 10, QLatin1Char('0')));

    // Lamp N shows bit N-1 of its panel's word, named as AlarmBits names it.
    const auto lampTexts = [this](const LampGroup &group, AlarmBits::Group bits) {
        const AlarmBits::List &list = AlarmBits::bits(bits);
        for (int i = 0; i < group.lamps.size() && i < list.count; ++i)
            if (group.lamps[i])
                group.lamps[i]->setText(pick({list.bits[i].chinese, list.bits[i].english}, m_language));
    };
    lampTexts(m_warnings, AlarmBits::Group::Warning);
    lampTexts(m_protections, AlarmBits::Group::Protection);
    lampTexts(m_errors, AlarmBits::Group::Error);
}

void BmsMonitoring::setLanguage(Language language)
{
    m_language = language;
}
