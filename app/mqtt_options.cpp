#include "mqtt_options.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace tirvel {

namespace {

// A host name's limit, which the default name keeps to. Home Assistant's entity ids end at 255
// characters, so every id Tirvel makes from it stays well inside.
constexpr qsizetype MAX_NAME_LENGTH = 64;
// Every discovery topic begins with it.
constexpr qsizetype MAX_PREFIX_LENGTH = 64;

} // namespace

MqttOptions addMqttOptions(QCommandLineParser &parser)
{
    MqttOptions options;
    parser.addOptions(
        {options.url, options.ca, options.passwordFile, options.name, options.discovery});
    return options;
}

std::optional<QString> readMqttOptions(
    const QCommandLineParser &parser, const MqttOptions &options, CommandLine &result)
{
    if (!parser.isSet(options.url))
        return std::nullopt;
    QString problem;
    result.mqtt = MqttTarget::parse(parser.value(options.url), problem);
    if (!result.mqtt)
        return problem;
    if (parser.isSet(options.ca)) {
        result.mqttCaFile = parser.value(options.ca);
        if (!QFileInfo(result.mqttCaFile).isFile())
            return QStringLiteral("The certificate authority '%1' is not a file.")
                .arg(result.mqttCaFile);
    }
    if (parser.isSet(options.passwordFile)) {
        QFile file(parser.value(options.passwordFile));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("Cannot read the password file '%1': %2.")
                .arg(file.fileName(), file.errorString());
        result.mqttPassword = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n'));
    }
    result.mqttName = parser.isSet(options.name) ? parser.value(options.name) : defaultMqttName();
    if (result.mqttName.size() > MAX_NAME_LENGTH)
        return QStringLiteral("The name for the broker has %1 characters; at most %2 are taken.")
            .arg(result.mqttName.size())
            .arg(MAX_NAME_LENGTH);
    static const QRegularExpression ID(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!ID.match(result.mqttName).hasMatch())
        return QStringLiteral(
            "The name '%1' for the broker may hold only letters, digits, _ and -.")
            .arg(result.mqttName);
    const QString prefix = parser.value(options.discovery);
    result.mqttDiscoveryPrefix = prefix == QLatin1String("none") ? QString() : prefix;
    // Levels Home Assistant takes in its ids, so every discovery topic is one.
    static const QRegularExpression PREFIX(QStringLiteral("^[A-Za-z0-9_-]+(/[A-Za-z0-9_-]+)*$"));
    if (prefix.size() > MAX_PREFIX_LENGTH || !PREFIX.match(prefix).hasMatch())
        return QStringLiteral("The discovery prefix '%1' is not letters, digits, _ and - in levels "
                              "separated by /, at most %2 characters in all.")
            .arg(prefix.left(MAX_PREFIX_LENGTH))
            .arg(MAX_PREFIX_LENGTH);
    return std::nullopt;
}

} // namespace tirvel
