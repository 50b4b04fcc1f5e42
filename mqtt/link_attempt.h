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
    // The broker's answer when it refused the connection; 0 for none.
    int refusal = 0;
    // The broker took the connection and did not answer it in time.
    bool unanswered = false;
    bool wasConnected = false;
    // What libmosquitto logged as errors meanwhile.
    QStringList libraryErrors;

    // The broker answered and turned Tirvel away for what only a person can change: the user,
    // the password, the client id. A broker that is busy is only out of reach.
    bool refused() const;
    // What the person is told, naming what to fix where there is something to fix.
    // caFile is empty when the system's authorities are trusted.
    QString reason(const MqttTarget &target, const QString &caFile, int answerWaitMs) const;
};

} // namespace tirvel
