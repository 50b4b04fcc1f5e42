#include "link_attempt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace tirvel {

namespace {

const QString FIX_PASSWORD
    = QStringLiteral("check the user in --mqtt and the password in TIRVEL_MQTT_PASSWORD or "
                     "--mqtt-password-file");

// An MQTT 5 broker that says why speaks for itself; libmosquitto has the words.
QString brokerSaid(int reason)
{
    return QString::fromUtf8(mosquitto_reason_string(reason));
}

QString refusalReason(int refusal, const MqttTarget &target, const QString &where)
{
    switch (refusal) {
    case CONNACK_REFUSED_PROTOCOL_VERSION:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QStringLiteral("the broker at %1 takes neither MQTT 5 nor 3.1.1").arg(where);
    case CONNACK_REFUSED_IDENTIFIER_REJECTED:
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QStringLiteral("the broker at %1 refused Tirvel's client id: give another --mqtt-id")
            .arg(where);
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
    case MQTT_RC_QUOTA_EXCEEDED:
    case MQTT_RC_CONNECTION_RATE_EXCEEDED:
        return QStringLiteral("the broker at %1 is not taking connections").arg(where);
    case MQTT_RC_BANNED:
        return QStringLiteral("the broker at %1 has banned Tirvel's client id or address")
            .arg(where);
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
    case CONNACK_REFUSED_NOT_AUTHORIZED:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED:
    case MQTT_RC_BAD_AUTHENTICATION_METHOD:
        break;
    default:
        return QStringLiteral("the broker at %1 refused the connection: %2")
            .arg(where, brokerSaid(refusal));
    }
    if (target.user.isEmpty())
        return QStringLiteral("the broker at %1 wants a user name and password: give "
                              "mqtt://USER@%1, and the password in TIRVEL_MQTT_PASSWORD or "
                              "--mqtt-password-file")
            .arg(where);
    return QStringLiteral("the broker at %1 refused the user '%2' with this password: %3")
        .arg(where, target.user, FIX_PASSWORD);
}

QString tlsReason(const QStringList &errors, const MqttTarget &target, const QString &caFile,
    const QString &where)
{
    const QString said = errors.join(QLatin1Char(' '));
    if (said.contains(QLatin1String("host name verification failed")))
        return QStringLiteral("the broker's certificate at %1 is not made out to '%2': give a "
                              "host name in --mqtt that the certificate holds, or the broker a "
                              "certificate for '%2'")
            .arg(where, target.host);
    if (said.contains(QLatin1String("certificate verify failed"))) {
        if (caFile.isEmpty())
            return QStringLiteral("the broker's certificate at %1 is not signed by an authority "
                                  "this system trusts: give the one that signed it with --mqtt-ca")
                .arg(where);
        return QStringLiteral("the broker's certificate at %1 is not signed by the authority in "
                              "'%2': give the one that signed it with --mqtt-ca")
            .arg(where, caFile);
    }
    const QString detail
        = errors.isEmpty() ? QString() : errors.last().section(QLatin1Char(':'), -1);
    return QStringLiteral("TLS failed at %1 (%2): is it the broker's TLS port?")
        .arg(where,
            detail.trimmed().isEmpty() ? QStringLiteral("no reason given") : detail.trimmed());
}

} // namespace

bool LinkAttempt::refused() const
{
    switch (refusal) {
    case 0:
        return takenOver;
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
    case MQTT_RC_QUOTA_EXCEEDED:
    case MQTT_RC_CONNECTION_RATE_EXCEEDED:
        return false;
    default:
        return true;
    }
}

bool LinkAttempt::protocolRefused() const
{
    return refusal == CONNACK_REFUSED_PROTOCOL_VERSION
        || refusal == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
}

int LinkAttempt::waitAfter(int lastWaitMs, int firstMs, int longestMs) const
{
    if (takenOver)
        return longestMs;
    if (wasConnected || lastWaitMs <= 0)
        return firstMs;
    return std::min(lastWaitMs * 2, longestMs);
}

QString LinkAttempt::reason(const MqttTarget &target, const QString &clientId,
    const QString &caFile, int answerWaitMs) const
{
    const QString where = target.address();
    if (refusal != 0)
        return refusalReason(refusal, target, where);
    if (takenOver)
        return QStringLiteral("the broker at %1 ended the connection, since another client uses "
                              "the id %2: give each Tirvel its own --mqtt-id")
            .arg(where, clientId);
    if (wasConnected && disconnectReason >= MQTT_RC_UNSPECIFIED)
        return QStringLiteral("the connection to the broker at %1 was lost (the broker said: %2)")
            .arg(where, brokerSaid(disconnectReason));
    if (unanswered)
        return QStringLiteral("the broker at %1 took the connection but did not answer within %2 s")
            .arg(where, QString::number(answerWaitMs / 1000.0));
    if (result == MOSQ_ERR_EAI)
        return QStringLiteral("the name '%1' cannot be looked up (%2)")
            .arg(target.host, QString::fromLocal8Bit(gai_strerror(systemError)));
    if (result == MOSQ_ERR_TLS || result == MOSQ_ERR_TLS_HANDSHAKE)
        return tlsReason(libraryErrors, target, caFile, where);
    if (result == MOSQ_ERR_KEEPALIVE)
        return QStringLiteral("the broker at %1 stopped answering").arg(where);
    const QString system = result == MOSQ_ERR_ERRNO && systemError != 0
        ? QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(systemError)))
        : QString();
    if (wasConnected)
        return QStringLiteral("the connection to the broker at %1 was lost%2").arg(where, system);
    if (result == MOSQ_ERR_ERRNO && systemError == ECONNREFUSED)
        return QStringLiteral("nothing listens at %1 (connection refused)").arg(where);
    if (result == MOSQ_ERR_ERRNO)
        return QStringLiteral("cannot reach %1%2").arg(where, system);
    return QStringLiteral("the broker at %1 closed the connection without answering%2")
        .arg(
            where, target.tls ? QString() : QStringLiteral("; if it takes only TLS, use mqtts://"));
}

} // namespace tirvel
