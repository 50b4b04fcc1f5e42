#pragma once

#include "mqtt_target.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

struct mosquitto;

namespace tirvel {

// A connection to an MQTT broker through libmosquitto, which the window's thread never waits
// on: the address is looked up and the first connection made on a thread of the link's own, the
// network loop runs on libmosquitto's, and what they hear reaches the link's owner queued. After
// a failure it connects again by itself, waiting longer each time, up to 30 seconds. The broker
// publishes the last will when the connection dies without a goodbye.
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

    explicit MqttLink(Settings settings, QObject *parent = nullptr);
    // Ends the connection at once; finish() first for a goodbye.
    ~MqttLink() override;

    void start();
    // Retained messages are kept by the broker for those who subscribe later. Quality of service
    // 1: the broker confirms each. False when there is no connection to send it on.
    bool publish(const QString &topic, const QByteArray &payload, bool retain);
    void subscribe(const QString &topic);
    // Publishes a last message, waits at most timeoutMs for the broker to take it, and leaves.
    void finish(const QString &topic, const QByteArray &payload, int timeoutMs);

    bool isConnected() const;

Q_SIGNALS:
    void connected();
    // The connection went; the link tries again by itself.
    void connectionLost(const QString &why);
    // The broker said no, such as to a wrong password; the link tries again by itself.
    void refused(const QString &why);
    void messageArrived(const QString &topic, const QByteArray &payload);

private:
    struct Shared;
    Settings m_settings;
    std::shared_ptr<Shared> m_shared;
};

} // namespace tirvel
