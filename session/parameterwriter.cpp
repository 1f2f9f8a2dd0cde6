#include "session/parameterwriter.h"

#include "protocol/frames.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/parametermap.h"

#include <QTimer>

namespace {
const Param::Field *fieldOf(quint16 reg)
{
    for (const Param::Field &f : Param::fields())
        if (f.reg == reg)
            return &f;
    return nullptr;
}

QString nameOf(const Param::Field *f, bool fieldNames, int language)
{
    return QString::fromUtf8(fieldNames ? f->name : language == 0 ? f->labelZh : f->labelEn);
}

QString groupName(int group, bool fieldNames, int language)
{
    const Param::Group &g = Param::groups().at(group);
    return QString::fromUtf8(fieldNames ? g.name : language == 0 ? g.labelZh : g.labelEn);
}

// Steps [from, to) of the sequence named compactly: a group whose steps in
// the sequence all fall in the range by the group's name, the others field
// by field.
QString namesOf(const QVector<ParameterWriter::Step> &steps, int from, int to, bool fieldNames, int language)
{
    QStringList names;
    int i = from;
    while (i < to) {
        const int group = fieldOf(steps[i].reg)->group;
        int end = i;
        while (end < to && fieldOf(steps[end].reg)->group == group)
            ++end;
        const bool wholeBefore = i == 0 || fieldOf(steps[i - 1].reg)->group != group;
        const bool wholeAfter = end == steps.size() || fieldOf(steps[end].reg)->group != group;
        if (wholeBefore && wholeAfter) {
            names << groupName(group, fieldNames, language);
        } else {
            for (int k = i; k < end; ++k)
                names << nameOf(fieldOf(steps[k].reg), fieldNames, language);
        }
        i = end;
    }
    return names.join(language == 0 && !fieldNames ? QStringLiteral("、") : QStringLiteral(", "));
}

QString valueText(const ParameterWriter::Step &step, const quint16 *values)
{
    const Param::Field *f = fieldOf(step.reg);
    if (f->scale == Param::Scale::Clock)
        return Param::clockText(values[0], values[1]);
    return Param::fieldText(f->scale, values[0]);
}

QDateTime clockTime(const quint16 *values)
{
    return QDateTime::fromString(Param::clockText(values[0], values[1]), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
} // namespace

int ParameterWriter::Report::registerCount() const
{
    int n = 0;
    for (const Step &s : steps)
        n += s.count;
    return n;
}

int ParameterWriter::Report::registersWritten() const
{
    int n = 0;
    for (int i = 0; i < acknowledged && i < steps.size(); ++i)
        n += steps[i].count;
    return n;
}

QString ParameterWriter::Report::text(bool fieldNames, int language) const
{
    const bool zh = language == 0 && !fieldNames;
    const int total = registerCount(), written = registersWritten();
    if (end == End::Written)
        return zh ? QStringLiteral("已写入并回读 %1 个寄存器").arg(total)
                  : QStringLiteral("wrote %1 of %1 registers and read them back").arg(total);
    if (end == End::Cancelled)
        return zh ? QStringLiteral("已取消，未发送任何参数") : QStringLiteral("cancelled, nothing was sent");
    QString cause;
    const Step *failed = acknowledged < steps.size() ? &steps[acknowledged] : nullptr;
    const QString failedName = failed ? nameOf(fieldOf(failed->reg), fieldNames, language) : QString();
    switch (end) {
    case End::Written:
    case End::Cancelled:
        break;
    case End::NotAcknowledged:
        cause = zh ? QStringLiteral("寄存器 %1（%2）发送三次均无应答").arg(failed->reg).arg(failedName)
                   : QStringLiteral("no acknowledgement for register %1 (%2) after three sends").arg(failed->reg).arg(failedName);
        break;
    case End::Refused:
        cause = zh ? QStringLiteral("BMS 拒绝写入寄存器 %1（%2），异常码 %3").arg(failed->reg).arg(failedName).arg(code)
                   : QStringLiteral("the BMS refused register %1 (%2) with exception code %3").arg(failed->reg).arg(failedName).arg(code);
        break;
    case End::ReadBackDiffers:
        for (const Step &s : steps) {
            if (s.reg != differingReg)
                continue;
            const QString name = nameOf(fieldOf(s.reg), fieldNames, language);
            cause = zh ? QStringLiteral("回读不一致：%1 为 %2，写入的是 %3").arg(name, valueText(s, readValue), valueText(s, s.values))
                       : QStringLiteral("read-back differs: %1 is %2, written %3").arg(name, valueText(s, readValue), valueText(s, s.values));
        }
        break;
    case End::LinkLost:
    case End::Stopped:
        cause = detail;
        break;
    }
    QString text = cause;
    const QString sep = zh ? QStringLiteral("；") : QStringLiteral("; ");
    text += sep + (zh ? QStringLiteral("已写入 %1/%2 个寄存器").arg(written).arg(total)
                      : QStringLiteral("wrote %1 of %2 registers").arg(written).arg(total));
    if (acknowledged > 0)
        text += (zh ? QStringLiteral("（%1）") : QStringLiteral(" (%1)")).arg(namesOf(steps, 0, acknowledged, fieldNames, language));
    if (acknowledged < steps.size())
        text += sep + (zh ? QStringLiteral("未写入：") : QStringLiteral("not written: "))
                + namesOf(steps, acknowledged, steps.size(), fieldNames, language);
    // An unacknowledged frame may still have been taken by the pack.
    if (acknowledged == 0 && end != End::NotAcknowledged)
        text += sep + (zh ? QStringLiteral("电池组保持原有参数") : QStringLiteral("the pack keeps its old values"));
    else if (acknowledged == 0)
        text += sep + (zh ? QStringLiteral("电池组可能已收下未应答的值，请重新写入")
                          : QStringLiteral("the pack may hold the unacknowledged value, write again"));
    else if (zh)
        text += sep + QStringLiteral("电池组中新旧参数混杂，请重新写入");
    else
        text += sep + (fieldNames ? QStringLiteral("the pack holds a mix, write the set again")
                                  : QStringLiteral("the pack holds a mix of old and new values, write them again"));
    return text;
}

ParameterWriter::ParameterWriter(QObject *parent) : QObject(parent), m_clock([] { return QDateTime::currentDateTime(); })
{
    qRegisterMetaType<ParameterWriter::Report>("ParameterWriter::Report");
}

int ParameterWriter::registerCount(unsigned ticked)
{
    int n = 0;
    for (quint16 reg : Param::writeOrder(ticked))
        n += reg == Param::ClockHigh ? 2 : 1;
    return n;
}

QStringList ParameterWriter::Concerns::lines(bool fieldNames, int language) const
{
    QStringList out;
    for (const Param::Violation &v : broken)
        out << v.text(fieldNames, language);
    if (!setModel.isEmpty())
        out << (language == 0 && !fieldNames
                    ? QStringLiteral("参数组读自型号 %1，电池组型号为 %2").arg(setModel, packModel)
                    : QStringLiteral("the set was read from model %1, the pack is model %2").arg(setModel, packModel));
    return out;
}

bool ParameterWriter::request(const Request &request, Confirm confirm)
{
    if (busy())
        return false;
    const QVector<quint16> order = Param::writeOrder(request.mask);
    if (order.isEmpty())
        return false;
    m_report = Report();
    for (quint16 reg : order) {
        Step s;
        s.reg = reg;
        s.count = reg == Param::ClockHigh ? 2 : 1;
        m_report.steps.append(s);
    }
    m_request = request;
    m_confirm = std::move(confirm);
    if (m_packKnown) {
        m_state = State::Checking;
        checkAndWrite();
    } else {
        // The rules look at what the pack will hold after the write, the
        // groups not written included: those are read first.
        m_state = State::PreReading;
        liveData().nextRequest = ParameterRead;
        if (m_fast)
            emit nextSoon();
    }
    return true;
}

void ParameterWriter::checkAndWrite()
{
    if (m_state != State::Checking)
        return; // stopped meanwhile
    // What the pack will hold afterwards: what it holds, and the new values.
    const quint16 *image = liveData().registerImage;
    QVector<quint16> after(image, image + sizeof(liveData().registerImage) / sizeof(quint16));
    for (auto it = m_request.values.constBegin(); it != m_request.values.constEnd(); ++it)
        after[it.key()] = it.value();
    Concerns concerns;
    concerns.broken = Param::brokenRules(after.constData(), [this](quint16 reg) { return m_request.values.contains(reg); });
    const QString packModel = modelText();
    if (!m_request.setModel.isEmpty() && m_request.setModel != packModel) {
        concerns.setModel = m_request.setModel;
        concerns.packModel = packModel;
    }
    if (!concerns.isEmpty() && !(m_confirm && m_confirm(concerns))) {
        if (m_state == State::Checking) // the decision may have stopped it
            finish(End::Cancelled);
        return;
    }
    if (m_state != State::Checking)
        return;
    for (Step &s : m_report.steps)
        for (int i = 0; i < s.count; ++i)
            s.values[i] = after[s.reg + i];
    m_clockFromPc = m_request.clockFromPc;
    m_state = State::Writing;
    liveData().nextRequest = ParameterWrite;
    if (m_fast)
        emit nextSoon();
}

QByteArray ParameterWriter::frame()
{
    if (m_state != State::Writing || m_report.acknowledged >= m_report.steps.size())
        return QByteArray();
    Step &s = m_report.steps[m_report.acknowledged];
    if (s.reg == Param::ClockHigh) {
        // A time taken when the sequence started would be stale by the time
        // the clock frame, the last one, goes out.
        m_clockSent = m_clock();
        if (m_clockFromPc) {
            const quint32 code = Param::clockCode(m_clockSent.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            s.values[0] = quint16(code >> 16);
            s.values[1] = quint16(code & 0xFFFF);
        }
    }
    return Frames::writeRegisters(0x01, s.reg, s.values, s.count);
}

void ParameterWriter::acknowledged(const QByteArray &answer)
{
    if (m_state != State::Writing || m_report.acknowledged >= m_report.steps.size() || answer.size() < 6)
        return;
    // The acknowledgement echoes the register and count it confirms; one of
    // another frame moves nothing on.
    const Step &s = m_report.steps[m_report.acknowledged];
    const quint16 reg = quint16(quint8(answer[2]) << 8 | quint8(answer[3]));
    const quint16 count = quint16(quint8(answer[4]) << 8 | quint8(answer[5]));
    if (reg != s.reg || count != s.count)
        return;
    ++m_report.acknowledged;
    emit progress(m_report.acknowledged, m_report.steps.size());
    if (m_report.acknowledged == m_report.steps.size()) {
        // Written is not yet proven: the pack's registers are read back.
        m_state = State::ReadingBack;
        liveData().nextRequest = ParameterRead;
    }
    if (m_fast)
        emit nextSoon();
}

void ParameterWriter::refused(quint8 code)
{
    if (m_state != State::Writing)
        return;
    m_report.code = code;
    liveData().nextRequest = MonitorRead;
    finish(End::Refused);
}

void ParameterWriter::notAcknowledged()
{
    if (m_state == State::Writing)
        finish(End::NotAcknowledged);
}

void ParameterWriter::parametersRead(const quint16 *image)
{
    m_packKnown = true;
    if (m_state == State::PreReading) {
        // A box may ask about the values: not inside the link's dispatch.
        m_state = State::Checking;
        QTimer::singleShot(0, this, &ParameterWriter::checkAndWrite);
        return;
    }
    if (m_state != State::ReadingBack)
        return;
    for (const Step &s : qAsConst(m_report.steps)) {
        bool same = image[s.reg] == s.values[0] && (s.count == 1 || image[s.reg + 1] == s.values[1]);
        if (!same && s.reg == Param::ClockHigh) {
            // The pack's clock runs on after the write: it may be ahead by
            // the time since the frame went out, and a second either way.
            const QDateTime written = clockTime(s.values), read = clockTime(image + s.reg);
            const qint64 ahead = written.secsTo(read), since = qMax<qint64>(0, m_clockSent.secsTo(m_clock()));
            same = written.isValid() && read.isValid() && ahead >= -2 && ahead <= since + 2;
        }
        if (!same) {
            m_report.differingReg = s.reg;
            m_report.readValue[0] = image[s.reg];
            m_report.readValue[1] = image[s.reg + 1];
            finish(End::ReadBackDiffers);
            return;
        }
    }
    finish(End::Written);
}

void ParameterWriter::stop(End why, const QString &detail)
{
    if (!busy())
        return;
    m_report.detail = detail;
    finish(why);
}

void ParameterWriter::finish(End end)
{
    m_report.end = end;
    m_state = State::Idle;
    // After anything but a read-back that matched, or nothing sent, nobody
    // knows what the pack holds.
    if (end != End::Written && end != End::Cancelled)
        m_packKnown = false;
    const Report report = m_report;
    emit ended(report);
}
