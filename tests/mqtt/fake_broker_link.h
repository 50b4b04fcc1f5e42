#pragma once

#include "broker_link.h"

#include <QList>
#include <QStringList>

namespace tirvel {

// A link the test connects and drops by hand. It keeps what was sent while connected, and, like
// the real one, takes nothing while it is not.
class FakeBrokerLink : public BrokerLink
{
    Q_OBJECT

public:
    struct Sent
    {
        QString topic;
        QByteArray payload;
        bool retain = false;
        // Sent as the goodbye.
        bool last = false;
    };

    bool publish(const QString &topic, const QByteArray &payload, bool retain) override
    {
        if (m_connected)
            sent.append({topic, payload, retain, false});
        return m_connected;
    }
    void subscribe(const QString &topic) override { subscriptions.append(topic); }
    void finish(const QString &topic, const QByteArray &payload) override
    {
        if (m_connected)
            sent.append({topic, payload, true, true});
    }
    bool isConnected() const override { return m_connected; }

    void connectNow()
    {
        m_connected = true;
        Q_EMIT connected();
    }
    void drop(const QString &why)
    {
        m_connected = false;
        Q_EMIT down(why);
    }

    QList<Sent> sent;
    QStringList subscriptions;

private:
    bool m_connected = false;
};

} // namespace tirvel
