#pragma once

#include "mqtt_target.h"

#include <QString>
#include <QStringList>

namespace tirvel {

// How one attempt to reach the broker ended, as libmosquitto told it, and the reason in words a
// person can act on. libmosquitto's own texts name the wrong cause for some failures (its error
// for an answer that never came reads "Unknown error."), and its TLS failures say what was wrong
// only in its log.
struct LinkAttempt
{
    // libmosquitto's result; MOSQ_ERR_SUCCESS for an attempt that ended without one.
    int result = 0;
    // errno after the call that failed, or getaddrinfo's code after a failed look-up.
    int systemError = 0;
    // The broker's answer when it refused the connection, in MQTT 3.1.1's codes or 5's; 0 for
    // none.
    int refusal = 0;
    // The reason an MQTT 5 broker gave when it ended the connection; 0 for none.
    int disconnectReason = 0;
    // The broker took the connection and did not answer it in time.
    bool unanswered = false;
    bool wasConnected = false;
    bool mqtt5 = true;
    // The broker found a session of Tirvel's id when it took the connection: another client's.
    bool sessionFound = false;
    // Another client connected with Tirvel's id, and the broker let it have the id.
    bool takenOver = false;
    // How long the connection lasted.
    qint64 connectedMs = 0;
    // The largest packet sent that the broker had not confirmed when the connection ended.
    qsizetype unconfirmedBytes = 0;
    // What libmosquitto logged as errors meanwhile.
    QStringList libraryErrors;

    // The broker answered and turned Tirvel away for what only a person can change: the user,
    // the password, the client id. A broker that is busy is only out of reach.
    bool refused() const;
    // The broker does not speak the protocol the attempt spoke.
    bool protocolRefused() const;
    // The wait before the next attempt, after one of lastWaitMs (0 for none): doubled from the
    // first up to the longest, from the first again after a connection, and the longest after a
    // take-over, since the other client would take the id back at once.
    int waitAfter(int lastWaitMs, int firstMs, int longestMs) const;
    // What the person is told, naming what to fix where there is something to fix.
    // caFile is empty when the system's authorities are trusted.
    QString reason(const MqttTarget &target, const QString &clientId, const QString &caFile,
        int answerWaitMs) const;
};

} // namespace tirvel
