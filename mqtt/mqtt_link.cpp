#include "mqtt_link.h"

#include "link_session.h"

namespace tirvel {

MqttLink::MqttLink(Settings settings, QObject *parent)
    : BrokerLink(parent)
    , m_session(std::make_shared<LinkSession>(std::move(settings), this))
{
    if (const auto problem = m_session->setUp())
        m_problem = *problem;
}

MqttLink::~MqttLink()
{
    end();
}

bool MqttLink::end()
{
    m_session->forgetLink();
    if (!m_started)
        return true;
    m_started = false;
    m_session->end();
    // A thread still in a name look-up, which nothing can interrupt, is left to end by itself.
    return m_network.stop();
}

std::optional<QString> MqttLink::start()
{
    if (!m_problem.isEmpty())
        return m_problem;
    m_started = true;
    QObject *worker = m_network.adopt(new QObject);
    m_network.start();
    QMetaObject::invokeMethod(worker, [session = m_session] { session->keepConnected(); });
    return std::nullopt;
}

bool MqttLink::isConnected() const
{
    return m_session->isConnected();
}

bool MqttLink::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    switch (m_session->publish(topic, payload, retain)) {
    case LinkSession::Sent::Queued:
        return true;
    case LinkSession::Sent::TooLarge:
        Q_EMIT tooLarge(topic, m_session->packetBytes(topic.toUtf8().size(), payload.size()),
            m_session->brokerLimit());
        return false;
    case LinkSession::Sent::NotConnected:
        break;
    }
    return false;
}

void MqttLink::subscribe(const QString &topic)
{
    m_session->subscribe(topic);
}

void MqttLink::finish(const QString &topic, const QByteArray &payload)
{
    m_session->publishLast(topic, payload);
}

} // namespace tirvel
