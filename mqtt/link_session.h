#pragma once

#include "link_attempt.h"
#include "mqtt_link.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

struct mosquitto;

namespace tirvel {

// libmosquitto's client for one MqttLink, the work that keeps it connected, and all that the
// link, that work on its thread and libmosquitto's callbacks hand each other, each behind its own
// lock. The link may go while the work still waits on a name look-up nothing can interrupt, so
// the work keeps this alive, not the link. The work runs the network loop itself: libmosquitto's
// own loop leaves a first connection that failed alone and ends for good on a TLS or look-up
// failure.
class LinkSession
{
public:
    LinkSession(MqttLink::Settings settings, MqttLink *link);
    ~LinkSession();
    LinkSession(const LinkSession &) = delete;
    LinkSession &operator=(const LinkSession &) = delete;

    // Makes the client from the settings; what libmosquitto would not take, or nothing.
    std::optional<QString> setUp();
    // The thread's work: connect, run the loop while connected, wait, again, until ending.
    void keepConnected();

    enum class Sent { Queued, NotConnected, TooLarge };
    // From the link's thread; a publish only queues the message for the loop.
    Sent publish(const QString &topic, const QByteArray &payload, bool retain);
    // The largest packet the broker said it takes; 0 when it did not say.
    qsizetype brokerLimit() const { return m_brokerLimit; }
    // The size of a message's packet.
    qsizetype packetBytes(qsizetype topicBytes, qsizetype payloadBytes) const;
    void subscribe(const QString &topic);
    // Publishes a retained message and waits at most the goodbye wait for the broker to take it.
    void publishLast(const QString &topic, const QByteArray &payload);
    bool isConnected() const { return m_connected; }
    // Nothing more reaches the link.
    void forgetLink();
    // Says goodbye when connected and asks the thread's work to end.
    void end();

private:
    bool isEnding();
    // False when the link ends meanwhile.
    bool pause(int ms);
    // Runs on the link's thread, if the link is still there.
    void post(const std::function<void(MqttLink &)> &call);
    // One attempt, and the connection while it lasts.
    LinkAttempt connectOnce();
    struct Reason
    {
        QString why;
        LinkState state;
        int retryMs;
    };
    // To the link, unless said since the last connection that was said.
    void say(const Reason &reason);
    // In libmosquitto's callback.
    void connectedNow();
    // Sets the client up from the settings, as new or renewed.
    std::optional<QString> configure();
    void setCallbacks();
    // A client as new, for another protocol or an empty queue.
    bool renewClient();
    // Whether another client took the id. Most brokers only close the connection; over MQTT 5
    // Tirvel knows it took the id from another client as it connected, and over MQTT 3.1.1 only
    // by connections closed again and again.
    bool isTakeOver(const LinkAttempt &ended);
    // Whether the connection ended on a packet larger than the broker takes; then no packet that
    // large is sent again.
    bool learnLimit(const LinkAttempt &ended);

    mosquitto *m_mosq = nullptr;
    const MqttLink::Settings m_settings;

    std::mutex m_lifeMutex;
    std::condition_variable m_lifeChanged;
    bool m_ending = false;

    std::mutex m_linkMutex;
    MqttLink *m_link;
    QStringList m_subscriptions;

    std::mutex m_publishMutex;
    std::condition_variable m_published;
    int m_awaitedMid = -1;
    bool m_awaitedDone = false;
    // The packets of this connection the broker has not confirmed, by message id.
    std::map<int, qsizetype> m_unconfirmed;
    // The largest packet the broker has confirmed.
    qsizetype m_confirmedBytes = 0;

    std::atomic<bool> m_connected = false;
    std::atomic<bool> m_mqtt5 = true;
    std::atomic<qsizetype> m_brokerLimit = 0;
    // The broker's, or less as Tirvel learnt.
    std::atomic<qsizetype> m_packetLimit = 0;

    // Only the thread, in the loop and its callbacks, touches these.
    int m_refusal = 0;
    int m_disconnectReason = 0;
    std::chrono::steady_clock::time_point m_connectedAt;
    // Reasons said since the last connection that was said.
    QStringList m_said;
    // Another client took the id at the last end; connections are not said until one holds.
    bool m_takenOver = false;
    // When the broker last closed an MQTT 3.1.1 connection without a word.
    std::optional<std::chrono::steady_clock::time_point> m_lastClosed;
    // The broker closed the last connection without a word; said at the next end or connection.
    std::optional<Reason> m_unsaid;
    // The broker found a session of Tirvel's id as it took this connection.
    bool m_sessionFound = false;
    qsizetype m_learntLimit = 0;

    std::mutex m_errorMutex;
    QStringList m_libraryErrors;
};

} // namespace tirvel
