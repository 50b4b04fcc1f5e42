#pragma once

#include "command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <optional>

namespace tirvel {

// The options for telling an MQTT broker of events.
struct MqttOptions
{
    QCommandLineOption url {QStringLiteral("mqtt"),
        QStringLiteral("Tell an MQTT broker of every event, at mqtt://[user@]host[:port] or "
                       "mqtts://[user@]host[:port] (TLS). The password comes from "
                       "TIRVEL_MQTT_PASSWORD or --mqtt-password-file."),
        QStringLiteral("url")};
    QCommandLineOption ca {QStringLiteral("mqtt-ca"),
        QStringLiteral("Trust the broker's certificate when <file>, a certificate authority, "
                       "signed it (default: the system's authorities)."),
        QStringLiteral("file")};
    QCommandLineOption passwordFile {QStringLiteral("mqtt-password-file"),
        QStringLiteral("Read the broker's password from the first line of <file>, which must be "
                       "yours alone and at most 1 kB."),
        QStringLiteral("file")};
    QCommandLineOption name {QStringLiteral("mqtt-id"),
        QStringLiteral("This Tirvel's name on the broker: up to 64 letters, digits, _ and - "
                       "(default: the host name)."),
        QStringLiteral("name")};
    QCommandLineOption discovery {QStringLiteral("mqtt-discovery"),
        QStringLiteral("Home Assistant's discovery prefix, or none (default: homeassistant)."),
        QStringLiteral("prefix"), QStringLiteral("homeassistant")};
};

MqttOptions addMqttOptions(QCommandLineParser &parser);
// Fills in the broker's part of the result; what is wrong, if anything.
std::optional<QString> readMqttOptions(
    const QCommandLineParser &parser, const MqttOptions &options, CommandLine &result);

} // namespace tirvel
