#include "link_session.h"

#include <QFile>
#include <QPointer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace tirvel {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Seconds between pings, and so how soon a dead connection is noticed.
constexpr int KEEPALIVE_S = 30;
constexpr int QOS = 1;
// How long one pass of the network loop waits for the network before it looks whether to end
// or to give up on an answer; a publish wakes it at once.
constexpr int LOOP_WAIT_MS = 500;
// Only pictures are this large. A broker that takes less would be of no use to Tirvel, so an MQTT
// 3.1.1 connection that ends with only smaller packets unconfirmed is not blamed on their size.
constexpr qsizetype PICTURE_BYTES = 1024;
// MQTT 5: Tirvel's session outlasts its connection by this, so that a client that takes the id
// while Tirvel is connected, and Tirvel taking it back, hear from the broker that it found a
// session.
constexpr std::uint32_t SESSION_EXPIRY_S = 1;

// Closed by the broker without a word, and not for the size of a picture.
bool closedQuietly(const LinkAttempt &ended)
{
    return ended.wasConnected && ended.result == MOSQ_ERR_CONN_LOST && ended.disconnectReason == 0
        && ended.unconfirmedBytes < PICTURE_BYTES;
}

int initLibrary()
{
    static const int RESULT = mosquitto_lib_init();
    return RESULT;
}

} // namespace

LinkSession::LinkSession(MqttLink::Settings settings, MqttLink *link)
    : m_settings(std::move(settings))
    , m_link(link)
{
}

LinkSession::~LinkSession()
{
    if (m_mosq != nullptr)
        mosquitto_destroy(m_mosq);
}

bool LinkSession::isEnding()
{
    const std::lock_guard lock(m_lifeMutex);
    return m_ending;
}

bool LinkSession::pause(int ms)
{
    std::unique_lock lock(m_lifeMutex);
    return !m_lifeChanged.wait_for(lock, milliseconds(ms), [this] { return m_ending; });
}

void LinkSession::end()
{
    const std::lock_guard lock(m_lifeMutex);
    // Queued for the thread to send; refused when there is no connection.
    mosquitto_disconnect(m_mosq);
    m_ending = true;
    m_lifeChanged.notify_all();
}

void LinkSession::forgetLink()
{
    const std::lock_guard lock(m_linkMutex);
    m_link = nullptr;
}

qsizetype LinkSession::packetBytes(qsizetype topicBytes, qsizetype payloadBytes) const
{
    // The topic's length, the message id, and MQTT 5's empty properties.
    const qsizetype remaining = 2 + topicBytes + 2 + payloadBytes + (m_mqtt5 ? 1 : 0);
    qsizetype lengthBytes = 1;
    for (qsizetype left = remaining >> 7; left > 0; left >>= 7)
        ++lengthBytes;
    return 1 + lengthBytes + remaining;
}

LinkSession::Sent LinkSession::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_connected)
        return Sent::NotConnected;
    const QByteArray name = topic.toUtf8();
    const qsizetype bytes = packetBytes(name.size(), payload.size());
    const qsizetype limit = m_packetLimit;
    if (limit > 0 && bytes > limit)
        return Sent::TooLarge;
    // The callback that confirms it waits for this lock, so it cannot come before it is counted.
    const std::lock_guard lock(m_publishMutex);
    int mid = 0;
    const int result = mosquitto_publish(
        m_mosq, &mid, name.constData(), int(payload.size()), payload.constData(), QOS, retain);
    if (result == MOSQ_ERR_OVERSIZE_PACKET)
        return Sent::TooLarge;
    if (result != MOSQ_ERR_SUCCESS)
        return Sent::NotConnected;
    m_unconfirmed[mid] = bytes;
    return Sent::Queued;
}

void LinkSession::subscribe(const QString &topic)
{
    const std::lock_guard lock(m_linkMutex);
    m_subscriptions.append(topic);
    if (m_connected)
        mosquitto_subscribe(m_mosq, nullptr, topic.toUtf8().constData(), QOS);
}

void LinkSession::publishLast(const QString &topic, const QByteArray &payload)
{
    if (!m_connected)
        return;
    std::unique_lock lock(m_publishMutex);
    m_awaitedDone = false;
    int mid = -1;
    if (mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), int(payload.size()),
            payload.constData(), QOS, true)
        != MOSQ_ERR_SUCCESS)
        return;
    // The callback that says it was taken waits for this lock, so it cannot come before.
    m_awaitedMid = mid;
    m_published.wait_for(
        lock, milliseconds(m_settings.goodbyeWaitMs), [this] { return m_awaitedDone; });
}

void LinkSession::post(const std::function<void(MqttLink &)> &call)
{
    const std::lock_guard lock(m_linkMutex);
    if (m_link == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_link,
        [link = QPointer(m_link), call] {
            if (link)
                call(*link);
        },
        Qt::QueuedConnection);
}

std::optional<QString> LinkSession::setUp()
{
    if (const int result = initLibrary(); result != MOSQ_ERR_SUCCESS)
        return QStringLiteral("libmosquitto did not take its start (%1)")
            .arg(QString::fromUtf8(mosquitto_strerror(result)));
    errno = 0;
    // MQTT 5's sessions are not started clean, so that the broker says whether it found one.
    m_mosq = mosquitto_new(m_settings.clientId.toUtf8().constData(), false, this);
    if (m_mosq == nullptr)
        return QStringLiteral("libmosquitto could not make a client named '%1' (%2)")
            .arg(m_settings.clientId, QString::fromLocal8Bit(std::strerror(errno)));
    return configure();
}

bool LinkSession::renewClient()
{
    // Nothing else may touch the client meanwhile; the link's thread does only while connected.
    const std::scoped_lock lock(m_lifeMutex, m_linkMutex, m_publishMutex);
    // An MQTT 3.1.1 session that is not clean would outlast Tirvel on the broker, and with it the
    // commands sent meanwhile.
    return mosquitto_reinitialise(m_mosq, m_settings.clientId.toUtf8().constData(), !m_mqtt5, this)
        == MOSQ_ERR_SUCCESS
        && !configure();
}

std::optional<QString> LinkSession::configure()
{
    QString problem;
    const auto check = [&problem](int result, const QString &what) {
        if (result != MOSQ_ERR_SUCCESS && problem.isEmpty())
            problem = QStringLiteral("libmosquitto did not take %1 (%2)")
                          .arg(what, QString::fromUtf8(mosquitto_strerror(result)));
    };
    check(mosquitto_threaded_set(m_mosq, true), QStringLiteral("a thread of Tirvel's own"));
    check(mosquitto_int_option(
              m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_mqtt5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311),
        QStringLiteral("the MQTT version"));
    const QByteArray user = m_settings.target.user.toUtf8();
    const QByteArray password = m_settings.password.toUtf8();
    if (!user.isEmpty())
        check(mosquitto_username_pw_set(
                  m_mosq, user.constData(), password.isEmpty() ? nullptr : password.constData()),
            QStringLiteral("the user name and password"));
    const QByteArray willTopic = m_settings.willTopic.toUtf8();
    if (!willTopic.isEmpty())
        check(mosquitto_will_set(m_mosq, willTopic.constData(), int(m_settings.willPayload.size()),
                  m_settings.willPayload.constData(), QOS, true),
            QStringLiteral("the last will"));
    if (m_settings.target.tls) {
        // Verified, the broker's name included, against the system's authorities or the one given.
        if (m_settings.caFile.isEmpty())
            check(mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1),
                QStringLiteral("the system's certificate authorities"));
        else
            check(mosquitto_tls_set(m_mosq, QFile::encodeName(m_settings.caFile).constData(),
                      nullptr, nullptr, nullptr, nullptr),
                QStringLiteral("the certificate authority '%1'").arg(m_settings.caFile));
    }
    setCallbacks();
    if (!problem.isEmpty())
        return problem;
    return std::nullopt;
}

void LinkSession::setCallbacks()
{
    mosquitto_log_callback_set(m_mosq, [](mosquitto *, void *data, int level, const char *text) {
        if (level != MOSQ_LOG_ERR)
            return;
        auto &session = *static_cast<LinkSession *>(data);
        const std::lock_guard lock(session.m_errorMutex);
        session.m_libraryErrors.append(QString::fromUtf8(text));
    });
    // Called for MQTT 3.1.1's answers too.
    mosquitto_connect_v5_callback_set(m_mosq,
        [](mosquitto *client, void *data, int result, int flags,
            const mosquitto_property *properties) {
            auto &session = *static_cast<LinkSession *>(data);
            if (result != 0) {
                session.m_refusal = result;
                return;
            }
            // Another client held the id until now.
            session.m_sessionFound = (flags & 1) != 0;
            std::uint32_t said = 0;
            mosquitto_property_read_int32(properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, &said, false);
            session.m_brokerLimit = said;
            const qsizetype learnt = session.m_learntLimit;
            session.m_packetLimit = said == 0
                ? learnt
                : (learnt == 0 ? qsizetype(said) : std::min<qsizetype>(said, learnt));
            session.m_connectedAt = steady_clock::now();
            session.m_connected = true;
            {
                const std::lock_guard lock(session.m_linkMutex);
                for (const QString &topic : std::as_const(session.m_subscriptions))
                    mosquitto_subscribe(client, nullptr, topic.toUtf8().constData(), QOS);
            }
            session.connectedNow();
        });
    mosquitto_disconnect_v5_callback_set(
        m_mosq, [](mosquitto *, void *data, int reason, const mosquitto_property *) {
            // Below these, libmosquitto's own errors.
            if (reason >= MQTT_RC_UNSPECIFIED)
                static_cast<LinkSession *>(data)->m_disconnectReason = reason;
        });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto *, void *data, int mid) {
        auto &session = *static_cast<LinkSession *>(data);
        const std::lock_guard lock(session.m_publishMutex);
        if (const auto sent = session.m_unconfirmed.find(mid);
            sent != session.m_unconfirmed.end()) {
            session.m_confirmedBytes = std::max(session.m_confirmedBytes, sent->second);
            session.m_unconfirmed.erase(sent);
        }
        if (mid == session.m_awaitedMid) {
            session.m_awaitedDone = true;
            session.m_published.notify_all();
        }
    });
    mosquitto_message_callback_set(
        m_mosq, [](mosquitto *, void *data, const mosquitto_message *message) {
            const QString topic = QString::fromUtf8(message->topic);
            const QByteArray payload(
                static_cast<const char *>(message->payload), message->payloadlen);
            const bool retained = message->retain;
            static_cast<LinkSession *>(data)->post([topic, payload, retained](MqttLink &link) {
                Q_EMIT link.messageArrived(topic, payload, retained);
            });
        });
}

LinkAttempt LinkSession::connectOnce()
{
    LinkAttempt result;
    m_refusal = 0;
    m_disconnectReason = 0;
    {
        const std::lock_guard lock(m_errorMutex);
        m_libraryErrors.clear();
    }
    {
        const std::lock_guard lock(m_publishMutex);
        m_unconfirmed.clear();
    }
    result.mqtt5 = m_mqtt5;
    m_sessionFound = false;
    const QByteArray host = m_settings.target.host.toUtf8();
    mosquitto_property *properties = nullptr;
    if (m_mqtt5)
        mosquitto_property_add_int32(
            &properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, SESSION_EXPIRY_S);
    errno = 0;
    result.result = mosquitto_connect_bind_v5(
        m_mosq, host.constData(), m_settings.target.port, KEEPALIVE_S, nullptr, properties);
    result.systemError = errno;
    mosquitto_property_free_all(&properties);
    const auto deadline = steady_clock::now() + milliseconds(m_settings.answerWaitMs);
    while (result.result == MOSQ_ERR_SUCCESS && !isEnding()) {
        errno = 0;
        result.result = mosquitto_loop(m_mosq, LOOP_WAIT_MS, 1);
        result.systemError = errno;
        result.unanswered = !m_connected && m_refusal == 0 && steady_clock::now() > deadline;
        if (result.unanswered)
            break;
        if (m_takenOver && m_connected
            && steady_clock::now() - m_connectedAt > milliseconds(m_settings.settledMs)) {
            m_takenOver = false;
            m_said.clear();
            post([](MqttLink &link) { Q_EMIT link.connected(); });
        }
    }
    if (isEnding()) {
        // The goodbye the link's end asked for.
        const auto goodbyeDeadline = steady_clock::now() + milliseconds(m_settings.goodbyeWaitMs);
        while (mosquitto_want_write(m_mosq) && steady_clock::now() < goodbyeDeadline)
            mosquitto_loop(m_mosq, LOOP_WAIT_MS, 1);
    }
    result.refusal = m_refusal;
    result.disconnectReason = m_disconnectReason;
    result.sessionFound = m_sessionFound;
    result.wasConnected = m_connected.exchange(false);
    if (result.wasConnected)
        result.connectedMs
            = std::chrono::duration_cast<milliseconds>(steady_clock::now() - m_connectedAt).count();
    {
        const std::lock_guard lock(m_publishMutex);
        for (const auto &[mid, bytes] : m_unconfirmed)
            result.unconfirmedBytes = std::max(result.unconfirmedBytes, bytes);
    }
    const std::lock_guard lock(m_errorMutex);
    result.libraryErrors = m_libraryErrors;
    return result;
}

bool LinkSession::isTakeOver(const LinkAttempt &ended)
{
    if (ended.disconnectReason == MQTT_RC_SESSION_TAKEN_OVER)
        return true;
    // mosquitto 2.0 closes a session taken over without a word, even in MQTT 5.
    const bool closed = closedQuietly(ended);
    if (ended.mqtt5 || !closed)
        return closed && ended.sessionFound;
    const auto now = steady_clock::now();
    const bool again = m_lastClosed && now - *m_lastClosed < milliseconds(m_settings.settledMs);
    m_lastClosed = now;
    return m_takenOver || again;
}

bool LinkSession::learnLimit(const LinkAttempt &ended)
{
    const bool tooLarge = ended.disconnectReason == MQTT_RC_PACKET_TOO_LARGE
        || (!ended.mqtt5 && ended.result == MOSQ_ERR_CONN_LOST
            && ended.unconfirmedBytes >= PICTURE_BYTES);
    if (!ended.wasConnected || ended.unconfirmedBytes == 0 || !tooLarge)
        return false;
    // Between the largest packet the broker took and the one it ended the connection on, so that
    // each such end halves what is left to learn.
    const qsizetype dropped = ended.unconfirmedBytes;
    qsizetype took = 0;
    {
        const std::lock_guard lock(m_publishMutex);
        took = std::min(m_confirmedBytes, dropped - 1);
    }
    const qsizetype limit = took + (dropped - took) / 2;
    m_learntLimit = m_learntLimit == 0 ? limit : std::min(m_learntLimit, limit);
    m_packetLimit = m_learntLimit;
    // libmosquitto would send what is still in its queue again at the next connection.
    renewClient();
    return true;
}

void LinkSession::say(const Reason &reason)
{
    if (m_said.contains(reason.why))
        return;
    m_said.append(reason.why);
    post([reason](MqttLink &link) { Q_EMIT link.down(reason.why, reason.state, reason.retryMs); });
}

void LinkSession::connectedNow()
{
    if (m_unsaid) {
        // The close before was another client taking the id, which this connection takes back.
        if (m_sessionFound) {
            m_takenOver = true;
            LinkAttempt taken;
            taken.takenOver = true;
            say({taken.reason(m_settings.target, m_settings.clientId, m_settings.caFile,
                     m_settings.answerWaitMs),
                LinkState::Refused, m_settings.longestRetryMs});
        } else {
            say(*m_unsaid);
        }
        m_unsaid.reset();
    }
    // An MQTT 3.1.1 broker never says whether it found a session.
    if (m_takenOver && (m_sessionFound || !m_mqtt5)) {
        post([](MqttLink &link) { Q_EMIT link.resumed(); });
        return;
    }
    m_takenOver = false;
    m_said.clear();
    post([](MqttLink &link) { Q_EMIT link.connected(); });
}

void LinkSession::keepConnected()
{
    int waitMs = 0;
    while (!isEnding()) {
        LinkAttempt ended = connectOnce();
        if (isEnding())
            break;
        if (ended.mqtt5 && ended.protocolRefused()) {
            // A broker from before MQTT 5.
            m_mqtt5 = false;
            if (renewClient())
                continue;
        }
        // Said by the bridge once the picture is refused at the next connection.
        const bool learnt = learnLimit(ended);
        ended.takenOver = isTakeOver(ended);
        m_takenOver = ended.takenOver;
        waitMs = ended.waitAfter(waitMs, m_settings.firstRetryMs, m_settings.longestRetryMs);
        // Said once it is clear that no connection took it back.
        if (m_unsaid) {
            say(*m_unsaid);
            m_unsaid.reset();
        }
        const Reason reason {ended.reason(m_settings.target, m_settings.clientId, m_settings.caFile,
                                 m_settings.answerWaitMs),
            ended.refused() ? LinkState::Refused : LinkState::Unreachable, waitMs};
        // Whether another client took the id shows as the next connection finds its session.
        if (ended.mqtt5 && closedQuietly(ended) && !ended.takenOver)
            m_unsaid = reason;
        else if (!learnt)
            say(reason);
        if (!pause(waitMs))
            break;
    }
}

} // namespace tirvel
