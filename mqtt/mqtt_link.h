#pragma once

#include "broker_link.h"
#include "mqtt_target.h"
#include "worker_thread.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace tirvel {

class LinkSession;

// A connection to an MQTT broker through libmosquitto, which the window's thread never waits on:
// its LinkSession does the network's work on a thread of the link's own. It never gives up,
// whatever stopped an attempt, because a broker that is away tonight is usually back tomorrow;
// the waits between attempts grow, and start again from the first once it was connected.
class MqttLink : public BrokerLink
{
    Q_OBJECT

public:
    struct Settings
    {
        MqttTarget target;
        QString clientId;
        // Empty for none.
        QString password;
        // Empty: the system's certificate authorities.
        QString caFile;
        QString willTopic;
        QByteArray willPayload;
        // The wait before the next attempt, doubled after each failed one; a test shortens them.
        int firstRetryMs = 1000;
        // Waiting longer between attempts than this would leave a broker that is back unused.
        int longestRetryMs = 30000;
        // A broker that took the connection and has not answered by then is not going to.
        int answerWaitMs = 10000;
        // How long the goodbye may hold up an ending program.
        int goodbyeWaitMs = 1000;
        // Longer than the longest wait of another client that takes Tirvel's id: after a
        // take-over, a connection that holds this long has the id to itself again. An MQTT 3.1.1
        // broker never says it found the other's session: there, two connections closed without a
        // word within this were taken over.
        int settledMs = 65000;
    };

    explicit MqttLink(Settings settings, QObject *parent = nullptr);
    // end(), if it has not been.
    ~MqttLink() override;

    // What libmosquitto would not take of the settings, and then nothing starts; or nothing.
    std::optional<QString> start();
    // Quality of service 1: the broker confirms each.
    bool publish(const QString &topic, const QByteArray &payload, bool retain) override;
    void subscribe(const QString &topic) override;
    void finish(const QString &topic, const QByteArray &payload) override;
    // Says goodbye when connected and lets the network thread end, waiting for it at most
    // WorkerThread::END_WAIT_MS; false when it still runs, held in a name look-up. Nothing is
    // heard from the link after it.
    bool end();

    bool isConnected() const override;

private:
    // Shared with the work on the thread, which may outlive the link in a name look-up.
    std::shared_ptr<LinkSession> m_session;
    WorkerThread m_network {QStringLiteral("mqtt")};
    QString m_problem;
    bool m_started = false;
};

} // namespace tirvel
