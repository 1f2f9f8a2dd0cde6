#include "app/serviceconfig.h"

#include "app/mainwindow.h"
#include "app/options.h"
#include "model/addresslist.h"
#include "publish/mqttpublisher.h"

#include <QFileInfo>
#include <QSysInfo>
#include <QSettings>

const QStringList &ServiceConfig::keys()
{
    static const QStringList list{"port", "baud", "addresses", "poll_ms", "data_dir", "mqtt_url",
                                  "mqtt_user", "mqtt_password", "mqtt_ca_file", "service_id"};
    return list;
}

QString ServiceConfig::defaultServiceId() { return QStringLiteral("packscope-") + QSysInfo::machineHostName(); }

Result ServiceConfig::read(const QString &file)
{
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable())
        return Result::failure(QStringLiteral("cannot read the settings file %1").arg(file));
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return Result::failure(QStringLiteral("%1: not an INI file").arg(file));
    auto refuse = [&file](const QString &key, const QString &why) {
        return Result::failure(QStringLiteral("%1: %2: %3").arg(file, key, why));
    };
    // QSettings takes ';' for a comment; a line starting with '#', as
    // files in /etc have them, it reads as a key of its own: skipped.
    for (const QString &key : settings.allKeys())
        if (!keys().contains(key) && !key.startsWith(QLatin1Char('#')))
            return Result::failure(QStringLiteral("%1: unknown key '%2' (known: %3)").arg(file, key, keys().join(", ")));
    // An INI value with commas reads as a list: put back as written.
    auto text = [&settings](const char *key) {
        const QVariant v = settings.value(QLatin1String(key));
        return v.type() == QVariant::StringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
    };
    if (settings.contains("port"))
        port = text("port");
    if (settings.contains("baud")) {
        const QString value = text("baud");
        if (!MainWindow::baudRates().contains(value))
            return refuse("baud", QStringLiteral("'%1' is not one of %2").arg(value, MainWindow::baudRates().join(", ")));
        baud = value.toInt();
    }
    if (settings.contains("addresses")) {
        const Result parsed = AddressList::parse(text("addresses"), &addresses);
        if (!parsed.ok())
            return refuse("addresses", QStringLiteral("'%1': %2").arg(text("addresses"), parsed.error()));
    }
    if (settings.contains("poll_ms")) {
        bool ok = false;
        const int ms = text("poll_ms").toInt(&ok);
        if (!ok || ms < 10 || ms > 60000)
            return refuse("poll_ms", QStringLiteral("'%1' is not a number from 10 to 60000").arg(text("poll_ms")));
        pollMs = ms;
    }
    dataDir = text("data_dir");
    mqttUrl = text("mqtt_url");
    if (!mqttUrl.isEmpty()) {
        const Result url = MqttPublisher::parseUrl(mqttUrl, nullptr);
        if (!url.ok())
            return refuse("mqtt_url", url.error());
    }
    mqttUser = text("mqtt_user");
    mqttPassword = text("mqtt_password");
    mqttCaFile = text("mqtt_ca_file");
    serviceId = text("service_id");
    return Result();
}

Result ServiceConfig::apply(const Options &options)
{
    if (!options.port.isEmpty())
        port = options.port;
    if (options.baud)
        baud = options.baud;
    if (!options.addresses.isEmpty())
        addresses = options.addresses;
    if (options.pollMs)
        pollMs = options.pollMs;
    if (!options.dataDir.isEmpty())
        dataDir = options.dataDir;
    if (!options.mqttUrl.isEmpty()) {
        const Result url = MqttPublisher::parseUrl(options.mqttUrl, nullptr);
        if (!url.ok())
            return Result::failure(QStringLiteral("--mqtt: %1").arg(url.error()));
        mqttUrl = options.mqttUrl;
    }
    if (serviceId.isEmpty())
        serviceId = defaultServiceId();
    if (port.isEmpty())
        return Result::failure(QStringLiteral("no port to monitor: give --port or port in the settings file"));
    if (!mqttUrl.isEmpty()) {
        // The CA file and the rest, as the publisher will take them.
        MqttPublisher probe;
        const Result broker = probe.setBroker(mqttUrl, mqttUser, mqttPassword, mqttCaFile, serviceId);
        if (!broker.ok())
            return Result::failure(QStringLiteral("mqtt_ca_file: %1").arg(broker.error()));
    }
    return Result();
}
