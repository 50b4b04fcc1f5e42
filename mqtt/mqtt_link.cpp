#include "mqtt_link.h"

#include "link_session.h"

#include <mosquitto.h>

namespace tirvel {

namespace {

constexpr int QOS = 1;

} // namespace

MqttLink::MqttLink(Settings settings, QObject *parent)
    : QObject(parent)
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
    {
        const std::lock_guard lock(m_session->linkMutex);
        m_session->link = nullptr;
    }
    if (!m_started)
        return true;
    m_started = false;
    // Queued for the thread to send; refused when there is no connection.
    mosquitto_disconnect(m_session->mosq);
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
    return m_session->connected;
}

bool MqttLink::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_session->connected)
        return false;
    return mosquitto_publish(m_session->mosq, nullptr, topic.toUtf8().constData(),
               int(payload.size()), payload.constData(), QOS, retain)
        == MOSQ_ERR_SUCCESS;
}

void MqttLink::subscribe(const QString &topic)
{
    {
        const std::lock_guard lock(m_session->linkMutex);
        m_session->subscriptions.append(topic);
    }
    if (m_session->connected)
        mosquitto_subscribe(m_session->mosq, nullptr, topic.toUtf8().constData(), QOS);
}

void MqttLink::finish(const QString &topic, const QByteArray &payload, int timeoutMs)
{
    if (!m_session->connected)
        return;
    std::unique_lock lock(m_session->publishMutex);
    m_session->awaitedDone = false;
    int mid = -1;
    if (mosquitto_publish(m_session->mosq, &mid, topic.toUtf8().constData(), int(payload.size()),
            payload.constData(), QOS, true)
        != MOSQ_ERR_SUCCESS)
        return;
    m_session->awaitedMid = mid;
    m_session->published.wait_for(lock, std::chrono::milliseconds(timeoutMs),
        [session = m_session.get()] { return session->awaitedDone; });
}

} // namespace tirvel
