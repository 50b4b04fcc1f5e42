#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <map>

namespace tirvel {

// What stands in the way of watching now, for a person who may have no terminal: each trouble is
// one notification as it comes, and a line for as long as it lasts. The same trouble again says
// nothing; once cleared, it is news again. A broker that refuses Tirvel is a trouble at once,
// since trying again will not help; one out of reach is one only after a while, because a broker
// restarting or a network coming back is no news for anybody.
class Troubles : public QObject
{
    Q_OBJECT

public:
    // In the order the lines are shown.
    enum class Kind { CameraLost, FramesStale, EventFolder, BrokerRefused, BrokerUnreachable };

    static constexpr int UNREACHABLE_MS = 60000;

    explicit Troubles(int unreachableMs = UNREACHABLE_MS, QObject *parent = nullptr);

    // detail, when given, is what the notification says beyond the trouble's name.
    void set(Kind kind, bool present, const QString &detail = {});
    // The broker link's state: refused for a broker that turned Tirvel away as it is set up.
    void brokerDown(const QString &why, bool refused);
    void brokerConnected();

    QStringList lines() const;

    // In the person's words.
    static QString summary(Kind kind);

Q_SIGNALS:
    // A new trouble, to be notified.
    void arose(const QString &summary, const QString &body);
    // The lines of the troubles there are now.
    void changed(const QStringList &lines);

private:
    std::map<Kind, QString> m_present;
    QTimer m_unreachable;
    QString m_unreachableWhy;
};

} // namespace tirvel
