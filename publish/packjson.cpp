#include "publish/packjson.h"

#include "model/alarmbits.h"
#include "model/monitordata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace PackJson {

namespace {

// A compact JSON text written straight into bytes: a state message is
// made for every sample of every pack, and its numbers must keep the
// digits of the registers, which a double would not.
class Writer
{
public:
    QByteArray out;

    void open(char bracket)
    {
        separate();
        out += bracket;
        m_first = true;
    }
    void close(char bracket)
    {
        out += bracket;
        m_first = false;
    }
    Writer &key(const char *name)
    {
        separate();
        out += '"';
        out += name;
        out += "\":";
        m_first = true; // the value follows without a comma
        return *this;
    }
    void number(qint64 value)
    {
        separate();
        out += QByteArray::number(value);
    }
    // `value` in units of 10^-decimals: 3301, 3 -> 3.301; -50, 2 -> -0.50.
    void fixed(qint64 value, int decimals)
    {
        separate();
        if (value < 0)
            out += '-';
        const quint64 magnitude = value < 0 ? quint64(-value) : quint64(value);
        quint64 scale = 1;
        for (int i = 0; i < decimals; ++i)
            scale *= 10;
        out += QByteArray::number(magnitude / scale);
        if (decimals > 0) {
            out += '.';
            out += QByteArray::number(magnitude % scale).rightJustified(decimals, '0');
        }
    }
    // A text of our own, which needs no escaping.
    void word(const char *value)
    {
        separate();
        out += '"';
        out += value;
        out += '"';
    }
    void boolean(bool value)
    {
        separate();
        out += value ? "true" : "false";
    }
    void null()
    {
        separate();
        out += "null";
    }
    void text(const QString &value)
    {
        separate();
        out += '"';
        for (const char c : value.toUtf8()) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (quint8(c) < 0x20) {
                out += "\\u00";
                out += "0123456789abcdef"[quint8(c) >> 4];
                out += "0123456789abcdef"[quint8(c) & 15];
            } else {
                out += c;
            }
        }
        out += '"';
    }

private:
    void separate()
    {
        if (!m_first)
            out += ',';
        m_first = false;
    }
    bool m_first = true;
};

QByteArray keyOf(const QString &text)
{
    QByteArray key = text.toUtf8();
    for (char &c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                           || c == '_';
        if (!plain)
            c = '_';
    }
    return key;
}

// The operating state, as the real-time page decides it.
const char *stateName(quint16 status)
{
    if (status & 0x0001)
        return "charge";
    if (status & 0x0002)
        return "discharge";
    if (status & 0x0004)
        return "protection";
    if (status & 0x0008)
        return "charge_current_limiting";
    return "standby";
}

void alarmList(Writer &w, const char *name, AlarmBits::Group group, const BmsLiveData &live)
{
    const quint16 word = live.registerImage[AlarmBits::bits(group).reg];
    w.key(name).open('[');
    for (int bit = 0; bit < 16; ++bit)
        if (word >> bit & 1)
            w.word(AlarmBits::key(group, bit));
    w.close(']');
}

// One entity of a pack's device.
struct Entity
{
    const char *component; // sensor or binary_sensor
    const char *object;
    const char *name;
    const char *field;        // the state's field (a sensor's value)
    const char *deviceClass;  // null: none
    const char *unit;         // null: none
    int precision;            // suggested display digits, -1: none
};

constexpr Entity Entities[] = {
    {"sensor", "voltage", "Voltage", "voltage", "voltage", "V", 2},
    {"sensor", "current", "Current", "current", "current", "A", 2},
    {"sensor", "soc", "SOC", "soc", "battery", "%", -1},
    {"sensor", "soh", "SOH", "soh", nullptr, "%", -1},
    {"sensor", "cell_max", "Highest cell", "cell_max", "voltage", "V", 3},
    {"sensor", "cell_min", "Lowest cell", "cell_min", "voltage", "V", 3},
    {"sensor", "cell_spread", "Cell spread", "cell_spread", "voltage", "V", 3},
    {"sensor", "temp_max", "Highest temperature", "temp_max", "temperature", "°C", -1},
    {"binary_sensor", "warning", "Warning", "warnings", "problem", nullptr, -1},
    {"binary_sensor", "protection", "Protection", "protections", "problem", nullptr, -1},
    {"binary_sensor", "error", "Error", "errors", "problem", nullptr, -1},
};

} // namespace

QByteArray packKey(const QString &serial, quint8 id)
{
    return serial.isEmpty() ? QByteArrayLiteral("id") + QByteArray::number(id) : keyOf(serial);
}

QByteArray serviceKey(const QString &serviceId) { return keyOf(serviceId); }

QByteArray stateTopic(const QByteArray &packKey) { return "packscope/" + packKey + "/state"; }
QByteArray availabilityTopic(const QByteArray &packKey) { return "packscope/" + packKey + "/availability"; }
QByteArray serviceStatusTopic(const QByteArray &serviceKey) { return "packscope/" + serviceKey + "/status"; }
QByteArray serviceAvailabilityTopic(const QByteArray &serviceKey)
{
    return "packscope/" + serviceKey + "/availability";
}

QByteArray state(quint8 id, const BmsLiveData &live, const QString &time, quint64 seq)
{
    const quint16 *reg = live.registerImage;
    Writer w;
    w.out.reserve(640);
    w.open('{');
    w.key("time").text(time);
    w.key("id").number(id);
    w.key("serial").text(serialText(live));
    w.key("seq").number(qint64(seq));
    w.key("state").word(stateName(reg[Reg::StatusWord]));
    w.key("heater").boolean(reg[Reg::StatusWord] & 0x8000);
    w.key("voltage").fixed(reg[Reg::TotalVoltage], 2);
    w.key("current").fixed(packCurrent(live), 2);
    w.key("soc").number(reg[Reg::Soc]);
    w.key("soh").number(reg[Reg::Soh]);
    w.key("capacity").fixed(reg[Reg::FullCapacity], 1);
    w.key("remaining").number(reg[Reg::RemainCapacity]);
    w.key("cycles").number(reg[Reg::CycleCount]);
    w.key("max_charge_current").number(reg[Reg::MaxChargeCurrent]);
    const int cells = cellCount(live);
    w.key("cell_count").number(cells);
    w.key("cells").open('[');
    for (int i = 0; i < cells; ++i)
        w.fixed(reg[Reg::CellVoltage + i], 3);
    w.close(']');
    // Without cells there are no extremes (the page shows a spread of 0).
    const CellExtremes extremes = cellVoltageExtremes(live);
    if (extremes.valid()) {
        w.key("cell_max").fixed(extremes.max, 3);
        w.key("cell_min").fixed(extremes.min, 3);
        w.key("cell_spread").fixed(extremes.max - extremes.min, 3);
    } else {
        w.key("cell_max").null();
        w.key("cell_min").null();
        w.key("cell_spread").null();
    }
    w.key("balancing").open('[');
    for (int i = 0; i < cells; ++i)
        if (reg[Reg::CellMarkBits] >> i & 1)
            w.number(i + 1);
    w.close(']');
    w.key("temperatures").open('[');
    for (int sensor = 1; sensor <= 4; ++sensor)
        w.number(sensorTemp(sensor, live));
    w.close(']');
    // Highest and lowest as the real-time page shows them (sensors 1 and 2).
    const TemperatureExtremes temps = temperatureExtremes(live);
    w.key("temp_max").number(temps.max);
    w.key("temp_min").number(temps.min);
    w.key("temp_pcb").number(signedRegister(Reg::PcbTemp, live));
    w.key("temp_ambient").number(signedRegister(Reg::AmbientTemp, live));
    w.key("temp_bms_max").number(signedRegister(Reg::ReportedMaxTemp, live));
    alarmList(w, "warnings", AlarmBits::Group::Warning, live);
    alarmList(w, "protections", AlarmBits::Group::Protection, live);
    alarmList(w, "errors", AlarmBits::Group::Error, live);
    w.close('}');
    return w.out;
}

QVector<Message> discovery(quint8 id, const BmsLiveData &live, const QString &serviceId)
{
    const QString serial = serialText(live);
    const QString model = modelText(live);
    const QByteArray key = packKey(serial, id);
    const QString node = QStringLiteral("packscope_") + QString::fromUtf8(key);
    const QString stateTopicText = QString::fromUtf8(stateTopic(key));

    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{node}},
        {QStringLiteral("name"), QStringLiteral("%1 %2").arg(model.isEmpty() ? QStringLiteral("Pack") : model,
                                                             serial.isEmpty() ? QStringLiteral("ID %1").arg(id) : serial)},
        {QStringLiteral("model"), model},
        {QStringLiteral("sw_version"), versionText(live)},
        // The BMS does not say who made it: the device is the pack as
        // PackScope reads it.
        {QStringLiteral("manufacturer"), QStringLiteral("PackScope")},
    };
    if (!serial.isEmpty())
        device.insert(QStringLiteral("serial_number"), serial);
    // Home Assistant takes either one availability topic or a list, never
    // both: the list holds the pack's and the service's, so that a pack's
    // entities also go unavailable when the service dies (its last will).
    const QJsonArray availability{
        QJsonObject{{QStringLiteral("topic"), QString::fromUtf8(availabilityTopic(key))}},
        QJsonObject{{QStringLiteral("topic"), QString::fromUtf8(serviceAvailabilityTopic(serviceKey(serviceId)))}},
    };

    QVector<Message> messages;
    for (const Entity &e : Entities) {
        const bool binary = qstrcmp(e.component, "binary_sensor") == 0;
        QJsonObject config{
            {QStringLiteral("name"), QString::fromUtf8(e.name)},
            {QStringLiteral("unique_id"), node + QLatin1Char('_') + QLatin1String(e.object)},
            {QStringLiteral("state_topic"), stateTopicText},
            {QStringLiteral("availability"), availability},
            {QStringLiteral("availability_mode"), QStringLiteral("all")},
            {QStringLiteral("device"), device},
        };
        if (binary) {
            config.insert(QStringLiteral("value_template"),
                          QStringLiteral("{{ 'ON' if value_json.%1 else 'OFF' }}").arg(QLatin1String(e.field)));
            config.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
            config.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
        } else {
            config.insert(QStringLiteral("value_template"),
                          QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(e.field)));
            config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
            config.insert(QStringLiteral("unit_of_measurement"), QString::fromUtf8(e.unit));
        }
        if (e.deviceClass)
            config.insert(QStringLiteral("device_class"), QString::fromUtf8(e.deviceClass));
        if (e.precision >= 0)
            config.insert(QStringLiteral("suggested_display_precision"), e.precision);
        Message m;
        m.topic = "homeassistant/" + QByteArray(e.component) + '/' + node.toUtf8() + '/' + e.object + "/config";
        m.payload = QJsonDocument(config).toJson(QJsonDocument::Compact);
        m.retain = true;
        messages << m;
    }
    return messages;
}

QByteArray serviceStatus(bool connected, int queued, qint64 lost, const QString &lastError)
{
    Writer w;
    w.open('{');
    w.key("connected").boolean(connected);
    w.key("queued").number(queued);
    w.key("lost").number(lost);
    w.key("last_error").text(lastError);
    w.close('}');
    return w.out;
}

} // namespace PackJson
