#include "link_attempt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace tirvel {

namespace {

const QString FIX_PASSWORD
    = QStringLiteral("check the user in --mqtt and the password in TIRVEL_MQTT_PASSWORD or "
                     "--mqtt-password-file");

QString refusalReason(int refusal, const MqttTarget &target, const QString &where)
{
    switch (refusal) {
    case CONNACK_REFUSED_PROTOCOL_VERSION:
        return QStringLiteral("the broker at %1 does not take MQTT 3.1.1").arg(where);
    case CONNACK_REFUSED_IDENTIFIER_REJECTED:
        return QStringLiteral("the broker at %1 refused Tirvel's client id: give another --mqtt-id")
            .arg(where);
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
        return QStringLiteral("the broker at %1 is not taking connections").arg(where);
    default:
        break;
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
    return refusal != 0 && refusal != CONNACK_REFUSED_SERVER_UNAVAILABLE;
}

QString LinkAttempt::reason(const MqttTarget &target, const QString &caFile, int answerWaitMs) const
{
    const QString where = target.address();
    if (refusal != 0)
        return refusalReason(refusal, target, where);
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
