#pragma once

#include "broker_link.h"
#include "event.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <optional>

namespace tirvel {

// Tirvel on the broker, under tirvel/NAME/ (the topics are in the README). At every connection it
// sends Home Assistant's discovery messages and the present state again, so a broker that was
// away learns the present; what happened meanwhile is in the local log. A command the broker kept
// retained is never obeyed: it would be carried out again at every connection, undoing whatever
// was decided since. It knows watching only by what it is told, so a fake link is all its tests
// need.
class MqttBridge : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString name;
        // Empty for no discovery.
        QString discoveryPrefix;
        QString version;
        // The broker's address and the link's longest wait between attempts, for what is said
        // of the link.
        QString address;
        int longestRetryMs = 0;
        // Switches of watching that come quicker than this are taken as one, the last.
        int switchBurstMs = 1000;
    };

    static constexpr qsizetype MAX_COMMAND_BYTES = 16;

    MqttBridge(BrokerLink &link, Settings settings, QObject *parent = nullptr);

    // Leaves the broker true state: motion OFF when an event was open, then offline, waiting at
    // most the link's goodbye wait for them to leave.
    void finish();
    // The sensitivity the window's slider has now.
    void setSensitivity(int sensitivity);
    // The camera, or another program's frames, gave a picture: until then, and until the first
    // is lost, nothing is said of the camera.
    void pictureSeen();

public Q_SLOTS:
    // The watcher recorded an event.
    void eventRecorded(const tirvel::Event &event);
    void watchingChanged(bool watching);

Q_SIGNALS:
    // Words for the person running Tirvel; a trouble is said once, not at every message.
    void messageForPerson(const QString &text);
    // Home automation asks to start or stop watching; switches counts the commands this one
    // stands for, the last of a burst,
    void watchRequested(bool watching, int switches);
    // or for another sensitivity.
    void sensitivityRequested(int sensitivity);
    // The link was lost (with the reason) or is back, for the watcher's log.
    void linkEvent(tirvel::EventKind kind, const QJsonObject &fields);
    // The link's every change, with the reason it is down.
    void linkChanged(tirvel::LinkState state, const QString &why);

private:
    void connected();
    // Discovery and the present state, at every connection.
    void publishAll();
    void down(const QString &why, LinkState state, int retryMs);
    void tooLarge(const QString &on, qsizetype bytes, qsizetype limit);
    void commandArrived(const QString &topic, const QByteArray &payload, bool retained);
    void publishState();
    void publishCamera();
    QString topic(const QString &leaf) const;

    BrokerLink &m_link;
    Settings m_settings;
    bool m_watching = false;
    bool m_motion = false;
    std::optional<bool> m_camera;
    QByteArray m_picture;
    QByteArray m_snapshot;
    // Not connected since the link last said why.
    bool m_down = false;
    bool m_saidConnected = false;
    // What was said to be too large for the broker: "pictures", or a topic.
    QSet<QString> m_saidTooLarge;
    QSet<QString> m_saidRetained;
    bool m_saidBadCommand = false;
    bool m_saidBadSensitivity = false;
    // The burst of watch commands being taken as one, and its last.
    QTimer m_switchBurst;
    std::optional<bool> m_burstWatch;
    int m_burstSwitches = 0;
    int m_sensitivity = -1;
};

} // namespace tirvel
