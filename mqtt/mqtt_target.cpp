#include "mqtt_target.h"

#include <QRegularExpression>
#include <QSysInfo>

namespace tirvel {

std::optional<MqttTarget> MqttTarget::parse(const QString &url, QString &problem)
{
    // scheme://[user[:password]@]host[:port][/], the host a name or an address.
    static const QRegularExpression ADDRESS(
        QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://(?:([^@/:]*)(?::([^@/]*))?@)?([A-Za-z0-9._-]+|"
                       "\\[[0-9A-Fa-f:.]+\\])(?::([0-9]+))?/?$"));
    const auto refuse = [&](const QString &why) {
        problem = QStringLiteral("The broker's address '%1' %2.").arg(url, why);
        return std::nullopt;
    };
    const QRegularExpressionMatch parts = ADDRESS.match(url);
    if (!parts.hasMatch())
        return refuse(QStringLiteral("is not mqtt://[user@]host[:port] or mqtts://…"));
    MqttTarget target;
    const QString scheme = parts.captured(1).toLower();
    if (scheme == QLatin1String("mqtts"))
        target.tls = true;
    else if (scheme != QLatin1String("mqtt"))
        return refuse(QStringLiteral("has the scheme '%1', not mqtt or mqtts").arg(scheme));
    if (parts.capturedLength(3) > 0)
        return refuse(QStringLiteral("holds a password, which other users could read; give it in "
                                     "TIRVEL_MQTT_PASSWORD or --mqtt-password-file"));
    target.port = target.tls ? 8883 : 1883;
    if (parts.capturedLength(5) > 0) {
        bool ok = false;
        target.port = parts.captured(5).toInt(&ok);
        if (!ok || target.port < 1 || target.port > 65535)
            return refuse(QStringLiteral("has a port out of 1 to 65535"));
    }
    target.host = parts.captured(4);
    if (target.host.startsWith(QLatin1Char('[')))
        target.host = target.host.mid(1, target.host.size() - 2);
    target.user = parts.captured(2);
    return target;
}

QString MqttTarget::address() const
{
    const QString form
        = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2");
    return form.arg(host).arg(port);
}

QString defaultMqttName()
{
    QString name = QSysInfo::machineHostName();
    name.replace(QRegularExpression(QStringLiteral("[^a-zA-Z0-9_-]")), QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("tirvel") : name;
}

} // namespace tirvel
