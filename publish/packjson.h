#pragma once

#include "model/livedata.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What a pack's sample and identity look like on MQTT: the topics, the JSON
// state message of one sample, and the Home Assistant discovery messages
// that make each pack a device with sensors. Pure functions of a register
// image; docs/mqtt.md describes every field.
//
// Numbers are in physical units (V, A, Ah, degC, %) and written with the
// digits the registers carry (a cell's 3301 mV is 3.301, never
// 3.3009999...), so that a consumer sees what the BMS said.
namespace PackJson {

struct Message
{
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
};

// The pack's name in topics and ids: its serial with every character but
// letters, digits, '-' and '_' made '_' (MQTT reserves '/', '+' and '#';
// Home Assistant's node ids take no more than these), or "id<N>" for a pack
// that reports no serial.
QByteArray packKey(const QString &serial, quint8 id);
// The same for the service's own id ("packscope-<host>" and the like).
QByteArray serviceKey(const QString &serviceId);

// packscope/<key>/state, packscope/<key>/availability,
// packscope/<service>/status and packscope/<service>/availability.
QByteArray stateTopic(const QByteArray &packKey);
QByteArray availabilityTopic(const QByteArray &packKey);
QByteArray serviceStatusTopic(const QByteArray &serviceKey);
QByteArray serviceAvailabilityTopic(const QByteArray &serviceKey);

// The availability payloads of packs and of the service.
inline QByteArray online() { return QByteArrayLiteral("online"); }
inline QByteArray offline() { return QByteArrayLiteral("offline"); }

// The state message of one sample of pack `id`, taken at `time` (the PC's
// local clock as the history stores it, "yyyy-MM-dd hh:mm:ss"); `seq`
// counts the pack's samples since the service started, so that a consumer
// sees a gap or a message delivered twice.
QByteArray state(quint8 id, const BmsLiveData &live, const QString &time, quint64 seq);

// The retained Home Assistant discovery messages of the pack whose identity
// `live` holds: sensors for voltage, current, SOC, SOH, highest and lowest
// cell, cell spread and highest temperature; binary sensors for any
// warning, any protection and any error. One device per pack (its serial,
// model and version); an entity is available while both its pack and the
// service say "online".
QVector<Message> discovery(quint8 id, const BmsLiveData &live, const QString &serviceId);

// The service's status: connected, messages waiting, given up, last error.
QByteArray serviceStatus(bool connected, int queued, qint64 lost, const QString &lastError);

} // namespace PackJson
