#pragma once

#include "mqtt_target.h"
#include "worker_thread.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace tirvel {

class LinkSession;

// A connection to an MQTT broker through libmosquitto, which the window's thread never waits
// on: on a worker thread of the link's own, its LinkSession looks the address up, connects and
// runs the network loop, and what it hears reaches the link's owner queued. It never gives up:
// whatever stopped an attempt (no broker yet, a refusal, no answer, TLS, a name that does not
// resolve), it tries again after 1 second, then 2, 4 and so on up to 30, from 1 again once it was
// connected. The broker publishes the last will when the connection dies without a goodbye.
class MqttLink : public QObject
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
    };

    // Waiting longer between attempts than this would leave a broker that is back unused.
    static constexpr int LONGEST_RETRY_S = 30;
    // A broker that took the connection and has not answered by then is not going to.
    static constexpr int ANSWER_WAIT_S = 10;

    explicit MqttLink(Settings settings, QObject *parent = nullptr);
    // end(), if it has not been.
    ~MqttLink() override;

    // What libmosquitto would not take of the settings, and then nothing starts; or nothing.
    std::optional<QString> start();
    // Retained messages are kept by the broker for those who subscribe later. Quality of service
    // 1: the broker confirms each. False when there is no connection to send it on.
    bool publish(const QString &topic, const QByteArray &payload, bool retain);
    void subscribe(const QString &topic);
    // Publishes a last message, waits at most timeoutMs for the broker to take it, and leaves.
    void finish(const QString &topic, const QByteArray &payload, int timeoutMs);
    // Says goodbye when connected and lets the network thread end, waiting for it at most
    // WorkerThread::END_WAIT_MS; false when it still runs, held in a name look-up. Nothing is
    // heard from the link after it.
    bool end();

    bool isConnected() const;

Q_SIGNALS:
    void connected();
    // Not connected, and why, in words; each reason once until connected again. The link tries
    // again by itself.
    void down(const QString &why);
    // retained: the broker kept it from before, rather than passing it on as it came.
    void messageArrived(const QString &topic, const QByteArray &payload, bool retained);

private:
    // Shared with the work on the thread, which may outlive the link in a name look-up.
    std::shared_ptr<LinkSession> m_session;
    WorkerThread m_network {QStringLiteral("mqtt")};
    QString m_problem;
    bool m_started = false;
};

} // namespace tirvel
