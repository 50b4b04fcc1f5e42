#include "mqtt_link.h"

#include <QFile>
#include <QPointer>

#include <mosquitto.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tirvel {

namespace {

// Seconds between pings, and so how soon a dead connection is noticed.
constexpr int KEEPALIVE_S = 30;
constexpr int QOS = 1;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

// What libmosquitto's threads and the link share. The link may go while the first connection
// still waits on a name lookup, so that thread keeps this alive, not the link.
struct MqttLink::Shared
{
    mosquitto *mosq = nullptr;

    std::mutex lifeMutex;
    bool ending = false;
    bool looping = false;

    std::mutex linkMutex;
    MqttLink *link = nullptr;
    QStringList subscriptions;

    std::mutex publishMutex;
    std::condition_variable published;
    int awaitedMid = -1;
    bool awaitedDone = false;

    std::atomic<bool> connected = false;

    ~Shared()
    {
        if (mosq != nullptr)
            mosquitto_destroy(mosq);
    }

    // Runs on the link's thread, if the link is still there.
    void post(const std::function<void(MqttLink &)> &call)
    {
        const std::lock_guard lock(linkMutex);
        if (link == nullptr)
            return;
        QMetaObject::invokeMethod(
            link,
            [link = QPointer(link), call] {
                if (link)
                    call(*link);
            },
            Qt::QueuedConnection);
    }
};

MqttLink::MqttLink(Settings settings, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_shared(std::make_shared<Shared>())
{
    initLibrary();
    m_shared->link = this;
    const QByteArray id = m_settings.clientId.toUtf8();
    m_shared->mosq = mosquitto_new(id.constData(), true, m_shared.get());
    mosquitto *mosq = m_shared->mosq;
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_reconnect_delay_set(mosq, 1, 30, true);
    const QByteArray user = m_settings.target.user.toUtf8();
    const QByteArray password = m_settings.password.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(
            mosq, user.constData(), password.isEmpty() ? nullptr : password.constData());
    const QByteArray willTopic = m_settings.willTopic.toUtf8();
    if (!willTopic.isEmpty())
        mosquitto_will_set(mosq, willTopic.constData(), int(m_settings.willPayload.size()),
            m_settings.willPayload.constData(), QOS, true);
    if (m_settings.target.tls) {
        // Verified, the broker's name included, against the system's authorities or the one given.
        if (m_settings.caFile.isEmpty()) {
            mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            mosquitto_tls_set(mosq, QFile::encodeName(m_settings.caFile).constData(), nullptr,
                nullptr, nullptr, nullptr);
        }
    }

    mosquitto_connect_callback_set(mosq, [](mosquitto *client, void *data, int result) {
        auto &shared = *static_cast<Shared *>(data);
        if (result != 0) {
            const QString why = QString::fromUtf8(mosquitto_connack_string(result));
            shared.post([why](MqttLink &link) { Q_EMIT link.refused(why); });
            return;
        }
        shared.connected = true;
        {
            const std::lock_guard lock(shared.linkMutex);
            for (const QString &topic : std::as_const(shared.subscriptions))
                mosquitto_subscribe(client, nullptr, topic.toUtf8().constData(), QOS);
        }
        shared.post([](MqttLink &link) { Q_EMIT link.connected(); });
    });
    mosquitto_disconnect_callback_set(mosq, [](mosquitto *, void *data, int result) {
        auto &shared = *static_cast<Shared *>(data);
        const bool was = shared.connected.exchange(false);
        if (result != 0 && was) {
            const QString why = QString::fromUtf8(mosquitto_strerror(result));
            shared.post([why](MqttLink &link) { Q_EMIT link.connectionLost(why); });
        }
    });
    mosquitto_publish_callback_set(mosq, [](mosquitto *, void *data, int mid) {
        auto &shared = *static_cast<Shared *>(data);
        const std::lock_guard lock(shared.publishMutex);
        if (mid == shared.awaitedMid) {
            shared.awaitedDone = true;
            shared.published.notify_all();
        }
    });
    mosquitto_message_callback_set(
        mosq, [](mosquitto *, void *data, const mosquitto_message *message) {
            const QString topic = QString::fromUtf8(message->topic);
            const QByteArray payload(
                static_cast<const char *>(message->payload), message->payloadlen);
            static_cast<Shared *>(data)->post(
                [topic, payload](MqttLink &link) { Q_EMIT link.messageArrived(topic, payload); });
        });
}

MqttLink::~MqttLink()
{
    {
        const std::lock_guard lock(m_shared->linkMutex);
        m_shared->link = nullptr;
    }
    bool looping = false;
    {
        const std::lock_guard lock(m_shared->lifeMutex);
        m_shared->ending = true;
        looping = m_shared->looping;
    }
    if (looping) {
        mosquitto_disconnect(m_shared->mosq);
        mosquitto_loop_stop(m_shared->mosq, false);
    }
}

void MqttLink::start()
{
    // The name lookup and the first connection wait on the network: never on this thread.
    std::thread([shared = m_shared, host = m_settings.target.host.toUtf8(),
                    port = m_settings.target.port] {
        mosquitto_connect_async(shared->mosq, host.constData(), port, KEEPALIVE_S);
        const std::lock_guard lock(shared->lifeMutex);
        if (shared->ending)
            return;
        // From here on the loop connects again by itself whenever the connection goes.
        shared->looping = mosquitto_loop_start(shared->mosq) == MOSQ_ERR_SUCCESS;
    }).detach();
}

bool MqttLink::isConnected() const
{
    return m_shared->connected;
}

bool MqttLink::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_shared->connected)
        return false;
    return mosquitto_publish(m_shared->mosq, nullptr, topic.toUtf8().constData(),
               int(payload.size()), payload.constData(), QOS, retain)
        == MOSQ_ERR_SUCCESS;
}

void MqttLink::subscribe(const QString &topic)
{
    {
        const std::lock_guard lock(m_shared->linkMutex);
        m_shared->subscriptions.append(topic);
    }
    if (m_shared->connected)
        mosquitto_subscribe(m_shared->mosq, nullptr, topic.toUtf8().constData(), QOS);
}

void MqttLink::finish(const QString &topic, const QByteArray &payload, int timeoutMs)
{
    if (!m_shared->connected)
        return;
    std::unique_lock lock(m_shared->publishMutex);
    m_shared->awaitedDone = false;
    int mid = -1;
    if (mosquitto_publish(m_shared->mosq, &mid, topic.toUtf8().constData(), int(payload.size()),
            payload.constData(), QOS, true)
        != MOSQ_ERR_SUCCESS)
        return;
    m_shared->awaitedMid = mid;
    m_shared->published.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [this] { return m_shared->awaitedDone; });
}

} // namespace tirvel
