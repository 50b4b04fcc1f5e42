#pragma once

#include "broker_link.h"

#include <QList>
#include <QStringList>

namespace tirvel {

// A link the test connects and drops by hand; like the real one, it takes nothing while it is not
// connected.
class FakeBrokerLink : public BrokerLink
{
    Q_OBJECT

public:
    struct Sent
    {
        QString topic;
        QByteArray payload;
        bool retain = false;
    };

    bool publish(const QString &topic, const QByteArray &payload, bool retain) override
    {
        if (m_connected)
            sent.append({topic, payload, retain});
        return m_connected;
    }
    void subscribe(const QString &topic) override { subscriptions.append(topic); }
    void finish(const QString &topic, const QByteArray &payload) override
    {
        publish(topic, payload, true);
    }
    bool isConnected() const override { return m_connected; }

    void connectNow()
    {
        m_connected = true;
        Q_EMIT connected();
    }
    void drop(const QString &why, int retryMs = 1000)
    {
        m_connected = false;
        Q_EMIT down(why, LinkState::Unreachable, retryMs);
    }

    QList<Sent> sent;
    QStringList subscriptions;

private:
    bool m_connected = false;
};

} // namespace tirvel
