#include "mqtt_bridge.h"

#include "home_assistant.h"

#include <QJsonDocument>

#include <utility>

namespace tirvel {

namespace {

QByteArray onOff(bool on)
{
    return on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF");
}

} // namespace

MqttBridge::MqttBridge(BrokerLink &link, Settings settings, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_settings(std::move(settings))
    , m_switchBurst(this)
{
    m_switchBurst.setSingleShot(true);
    m_switchBurst.setInterval(m_settings.switchBurstMs);
    connect(&m_switchBurst, &QTimer::timeout, this, [this] {
        if (!m_burstWatch)
            return;
        const bool watching = *std::exchange(m_burstWatch, std::nullopt);
        m_switchBurst.start();
        Q_EMIT watchRequested(watching, std::exchange(m_burstSwitches, 0));
    });
    connect(&m_link, &BrokerLink::connected, this, &MqttBridge::connected);
    connect(&m_link, &BrokerLink::resumed, this, &MqttBridge::publishAll);
    connect(&m_link, &BrokerLink::tooLarge, this, &MqttBridge::tooLarge);
    connect(&m_link, &BrokerLink::down, this, &MqttBridge::down);
    connect(&m_link, &BrokerLink::messageArrived, this, &MqttBridge::commandArrived);
    m_link.subscribe(topic(QStringLiteral("watch/set")));
    m_link.subscribe(topic(QStringLiteral("sensitivity/set")));
}

void MqttBridge::watchingChanged(bool watching)
{
    m_watching = watching;
    m_link.publish(topic(QStringLiteral("watch")), onOff(watching), true);
}

void MqttBridge::setSensitivity(int sensitivity)
{
    if (sensitivity == m_sensitivity)
        return;
    m_sensitivity = sensitivity;
    m_link.publish(topic(QStringLiteral("sensitivity")), QByteArray::number(sensitivity), true);
}

QString MqttBridge::topic(const QString &leaf) const
{
    return tirvelTopic(m_settings.name, leaf);
}

void MqttBridge::finish()
{
    if (m_motion) {
        m_motion = false;
        m_link.publish(topic(QStringLiteral("motion")), onOff(false), true);
    }
    // Quality of service 1 keeps the order, so offline arriving means motion OFF did.
    m_link.finish(topic(QStringLiteral("status")), QByteArrayLiteral("offline"));
}

void MqttBridge::pictureSeen()
{
    if (m_camera)
        return;
    m_camera = true;
    publishCamera();
}

void MqttBridge::connected()
{
    // A loss the link did not say, such as one that taught it the broker's packet limit, is not
    // followed by a return either.
    if (m_down || !m_saidConnected) {
        Q_EMIT messageForPerson(
            QStringLiteral("connected to the broker at %1").arg(m_settings.address));
        if (m_down)
            Q_EMIT linkEvent(EventKind::BrokerBack, {});
        m_down = false;
        m_saidConnected = true;
        Q_EMIT linkChanged(LinkState::Connected, {});
    }
    publishAll();
}

void MqttBridge::publishAll()
{
    if (!m_settings.discoveryPrefix.isEmpty()) {
        for (const DiscoveryMessage &message :
            discoveryMessages(m_settings.discoveryPrefix, m_settings.name, m_settings.version))
            m_link.publish(message.topic, message.payload, true);
    }
    m_link.publish(topic(QStringLiteral("status")), QByteArrayLiteral("online"), true);
    publishState();
}

void MqttBridge::down(const QString &why, LinkState state, int retryMs)
{
    m_down = true;
    const QString first = QString::number(retryMs / 1000.0);
    const QString longest = QString::number(m_settings.longestRetryMs / 1000.0);
    Q_EMIT messageForPerson(retryMs < m_settings.longestRetryMs
            ? QStringLiteral("not connected: %1; trying again in %2 s, then less and less often, "
                             "up to %3 s apart")
                  .arg(why, first, longest)
            : QStringLiteral("not connected: %1; trying again every %2 s").arg(why, first));
    Q_EMIT linkEvent(EventKind::BrokerLost, {{QStringLiteral("reason"), why}});
    Q_EMIT linkChanged(state, why);
}

void MqttBridge::tooLarge(const QString &on, qsizetype bytes, qsizetype limit)
{
    const bool picture
        = on == topic(QStringLiteral("picture")) || on == topic(QStringLiteral("snapshot"));
    const QString what = picture ? QStringLiteral("pictures") : on;
    if (m_saidTooLarge.contains(what))
        return;
    m_saidTooLarge.insert(what);
    const QString messages = picture ? QStringLiteral("the event pictures")
                                     : QStringLiteral("the messages on %1").arg(on);
    const QString takes = limit > 0
        ? QStringLiteral("takes packets of at most %1 bytes, too small for").arg(limit)
        : QStringLiteral("ended the connection on packets as large as");
    Q_EMIT messageForPerson(QStringLiteral("the broker at %1 %2 %3 (about %4 bytes); raise "
                                           "max_packet_size in its configuration")
                                .arg(m_settings.address, takes, messages, QString::number(bytes)));
}

void MqttBridge::publishState()
{
    m_link.publish(topic(QStringLiteral("motion")), onOff(m_motion), true);
    publishCamera();
    m_link.publish(topic(QStringLiteral("watch")), onOff(m_watching), true);
    if (!m_picture.isEmpty())
        m_link.publish(topic(QStringLiteral("picture")), m_picture, true);
    if (!m_snapshot.isEmpty())
        m_link.publish(topic(QStringLiteral("snapshot")), m_snapshot, true);
    if (m_sensitivity >= 0)
        m_link.publish(
            topic(QStringLiteral("sensitivity")), QByteArray::number(m_sensitivity), true);
}

void MqttBridge::publishCamera()
{
    if (m_camera)
        m_link.publish(topic(QStringLiteral("camera")), onOff(*m_camera), true);
}

void MqttBridge::eventRecorded(const Event &event)
{
    if (isCommandEvent(event.kind))
        return;
    m_link.publish(topic(QStringLiteral("event")),
        QJsonDocument(event.record()).toJson(QJsonDocument::Compact), false);
    if (event.kind == EventKind::MotionStart && !event.pictureBytes.isEmpty()) {
        m_picture = event.pictureBytes;
        m_link.publish(topic(QStringLiteral("picture")), m_picture, true);
    }
    if (event.kind == EventKind::MotionStart && !event.snapshotBytes.isEmpty()) {
        m_snapshot = event.snapshotBytes;
        m_link.publish(topic(QStringLiteral("snapshot")), m_snapshot, true);
    }
    switch (event.kind) {
    case EventKind::MotionStart:
    case EventKind::MotionEnd:
        m_motion = event.kind == EventKind::MotionStart;
        m_link.publish(topic(QStringLiteral("motion")), onOff(m_motion), true);
        break;
    case EventKind::CameraLost:
    case EventKind::CameraBack:
    case EventKind::FramesStale:
    case EventKind::FramesBack:
        m_camera = event.kind == EventKind::CameraBack || event.kind == EventKind::FramesBack;
        publishCamera();
        break;
    case EventKind::CommandDropped:
    case EventKind::CommandEnded:
    case EventKind::BrokerLost:
    case EventKind::BrokerBack:
    case EventKind::WatchOn:
    case EventKind::WatchOff:
    case EventKind::CameraMode:
    case EventKind::DiskLow:
    case EventKind::DiskOk:
    case EventKind::Deleted:
        break;
    }
}

void MqttBridge::commandArrived(const QString &arrivedOn, const QByteArray &payload, bool retained)
{
    // A command the broker kept was meant for some moment before this connection.
    if (retained) {
        if (m_saidRetained.contains(arrivedOn))
            return;
        m_saidRetained.insert(arrivedOn);
        Q_EMIT messageForPerson(
            QStringLiteral("ignored a command the broker keeps retained on %1; commands "
                           "count only as they are sent (clear it with: mosquitto_pub -r "
                           "-n -t %1)")
                .arg(arrivedOn));
        return;
    }
    if (arrivedOn == topic(QStringLiteral("sensitivity/set"))) {
        bool ok = false;
        // Home Assistant sends a number entity's value as a decimal: 70.0.
        const double value = payload.trimmed().toDouble(&ok);
        if (ok && value >= 0 && value <= 100 && payload.size() <= MAX_COMMAND_BYTES) {
            Q_EMIT sensitivityRequested(qRound(value));
        } else if (!m_saidBadSensitivity) {
            m_saidBadSensitivity = true;
            Q_EMIT messageForPerson(
                QStringLiteral("ignored a message on %1 that is no number from 0 to 100 "
                               "(%2 bytes); others like it are ignored too")
                    .arg(arrivedOn)
                    .arg(payload.size()));
        }
        return;
    }
    if (arrivedOn != topic(QStringLiteral("watch/set")))
        return;
    if (payload == "ON" || payload == "OFF") {
        // A flood of switches is one switch a burst, so that neither the log nor the settings
        // file is written for each.
        if (m_switchBurst.isActive()) {
            m_burstWatch = payload == "ON";
            ++m_burstSwitches;
            return;
        }
        m_switchBurst.start();
        Q_EMIT watchRequested(payload == "ON", 1);
        return;
    }
    if (m_saidBadCommand)
        return;
    m_saidBadCommand = true;
    Q_EMIT messageForPerson(
        QStringLiteral("ignored a message on %1 that is neither ON nor OFF (%2 bytes); "
                       "others like it are ignored too")
            .arg(arrivedOn)
            .arg(payload.size()));
}

} // namespace tirvel
