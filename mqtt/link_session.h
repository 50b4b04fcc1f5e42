#pragma once

#include "link_attempt.h"
#include "mqtt_link.h"

#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

struct mosquitto;

namespace tirvel {

// libmosquitto's client for one MqttLink, the work that keeps it connected, and all that the
// link, that work on its thread and libmosquitto's callbacks hand each other. The link may go
// while the work still waits on a name look-up nothing can interrupt, so the work keeps this
// alive, not the link. The work runs the network loop itself: libmosquitto's own loop leaves a
// first connection that failed alone and ends for good on a TLS or look-up failure.
struct LinkSession
{
    explicit LinkSession(MqttLink::Settings settings, MqttLink *link);
    ~LinkSession();
    LinkSession(const LinkSession &) = delete;
    LinkSession &operator=(const LinkSession &) = delete;

    // Makes the client from the settings; what libmosquitto would not take, or nothing.
    std::optional<QString> setUp();
    // The thread's work: connect, run the loop while connected, wait, again, until ending.
    void keepConnected();
    // Asks the thread's work to end.
    void end();
    // Runs on the link's thread, if the link is still there.
    void post(const std::function<void(MqttLink &)> &call);

    mosquitto *mosq = nullptr;
    const MqttLink::Settings settings;

    std::mutex lifeMutex;
    std::condition_variable lifeChanged;
    bool ending = false;

    std::mutex linkMutex;
    MqttLink *link;
    QStringList subscriptions;

    std::mutex publishMutex;
    std::condition_variable published;
    int awaitedMid = -1;
    bool awaitedDone = false;

    std::atomic<bool> connected = false;

    // Only the thread, in the loop and its callbacks, touches these.
    int refusal = 0;
    // Reasons said since the last connection.
    QStringList said;

    std::mutex errorMutex;
    QStringList libraryErrors;

private:
    bool isEnding();
    // False when the link ends meanwhile.
    bool pause(int seconds);
    LinkAttempt attempt();
    void setCallbacks();
};

} // namespace tirvel
