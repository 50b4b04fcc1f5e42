#include "mqtt_options.h"

#include "system_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tirvel {

namespace {

// A password is a line; a file longer than this holds something else.
constexpr qint64 MAX_PASSWORD_BYTES = 1024;
// A host name's limit, which the default name keeps to. Home Assistant's entity ids end at 255
// characters, so every id Tirvel makes from it stays well inside.
constexpr qsizetype MAX_NAME_LENGTH = 64;
// Every discovery topic begins with it.
constexpr qsizetype MAX_PREFIX_LENGTH = 64;

// The password from the file's first line, or what is wrong with the file. It is judged by what
// was opened, without waiting, so a pipe or a device can neither hold up the start nor be read.
std::optional<QString> readPasswordFile(const QString &path, QString &password)
{
    const int descriptor
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return QStringLiteral("Cannot read the password file '%1': %2.")
            .arg(path, systemErrorText());
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return QStringLiteral("Cannot read the password file '%1'.").arg(path);
    }
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("The password file '%1' is not a regular file.").arg(path);
    if (status.st_uid != ::geteuid())
        return QStringLiteral("The password file '%1' belongs to another user, who can read it.")
            .arg(path);
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("The password file '%1' is open to other users; make it yours alone "
                              "with: chmod 600 '%1'.")
            .arg(path);
    if (status.st_size > MAX_PASSWORD_BYTES)
        return QStringLiteral("The password file '%1' is larger than %2 bytes; it should hold the "
                              "password on one line.")
            .arg(path)
            .arg(MAX_PASSWORD_BYTES);
    QByteArray line = file.read(MAX_PASSWORD_BYTES);
    line.truncate(line.indexOf('\n') < 0 ? line.size() : line.indexOf('\n'));
    // Written on Windows.
    if (line.endsWith('\r'))
        line.chop(1);
    password = QString::fromUtf8(line);
    return std::nullopt;
}

std::optional<QString> readPassword(
    const QCommandLineParser &parser, const MqttOptions &options, CommandLine &result)
{
    QString from = QStringLiteral("TIRVEL_MQTT_PASSWORD");
    if (parser.isSet(options.passwordFile)) {
        from = parser.value(options.passwordFile);
        if (auto problem = readPasswordFile(from, result.mqttPassword))
            return problem;
    } else {
        result.mqttPassword = qEnvironmentVariable("TIRVEL_MQTT_PASSWORD");
        if (result.mqttPassword.toUtf8().size() > MAX_PASSWORD_BYTES)
            return QStringLiteral("The password in TIRVEL_MQTT_PASSWORD is longer than %1 bytes.")
                .arg(MAX_PASSWORD_BYTES);
    }
    // libmosquitto sends a password only with a user name.
    if (!result.mqttPassword.isEmpty() && result.mqtt->user.isEmpty())
        return QStringLiteral("A password is given (in %1), but the broker's address names no "
                              "user: give mqtt://USER@%2.")
            .arg(from, result.mqtt->address());
    return std::nullopt;
}

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
    if (auto problem = readPassword(parser, options, result))
        return problem;
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
