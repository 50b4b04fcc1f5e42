#include "link_session.h"

#include <QFile>
#include <QPointer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tirvel {

namespace {

using std::chrono::steady_clock;

// Seconds between pings, and so how soon a dead connection is noticed.
constexpr int KEEPALIVE_S = 30;
constexpr int QOS = 1;
// How long one pass of the network loop waits for the network before it looks whether to end
// or to give up on an answer; a publish wakes it at once.
constexpr int LOOP_WAIT_MS = 500;
// Passes of the loop that may go to sending the goodbye.
constexpr int GOODBYE_PASSES = 4;

int initLibrary()
{
    static const int RESULT = mosquitto_lib_init();
    return RESULT;
}

} // namespace

LinkSession::LinkSession(MqttLink::Settings settings, MqttLink *link)
    : settings(std::move(settings))
    , link(link)
{
}

LinkSession::~LinkSession()
{
    if (mosq != nullptr)
        mosquitto_destroy(mosq);
}

bool LinkSession::isEnding()
{
    const std::lock_guard lock(lifeMutex);
    return ending;
}

bool LinkSession::pause(int seconds)
{
    std::unique_lock lock(lifeMutex);
    return !lifeChanged.wait_for(lock, std::chrono::seconds(seconds), [this] { return ending; });
}

void LinkSession::end()
{
    const std::lock_guard lock(lifeMutex);
    ending = true;
    lifeChanged.notify_all();
}

void LinkSession::post(const std::function<void(MqttLink &)> &call)
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

std::optional<QString> LinkSession::setUp()
{
    QString problem;
    const auto check = [&problem](int result, const QString &what) {
        if (result != MOSQ_ERR_SUCCESS && problem.isEmpty())
            problem = QStringLiteral("libmosquitto did not take %1 (%2)")
                          .arg(what, QString::fromUtf8(mosquitto_strerror(result)));
    };
    check(initLibrary(), QStringLiteral("its start"));
    const QByteArray id = settings.clientId.toUtf8();
    errno = 0;
    mosq = mosquitto_new(id.constData(), true, this);
    if (mosq == nullptr)
        return QStringLiteral("libmosquitto could not make a client named '%1' (%2)")
            .arg(settings.clientId, QString::fromLocal8Bit(std::strerror(errno)));
    check(mosquitto_threaded_set(mosq, true), QStringLiteral("a thread of Tirvel's own"));
    check(mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311),
        QStringLiteral("MQTT 3.1.1"));
    const QByteArray user = settings.target.user.toUtf8();
    const QByteArray password = settings.password.toUtf8();
    if (!user.isEmpty())
        check(mosquitto_username_pw_set(
                  mosq, user.constData(), password.isEmpty() ? nullptr : password.constData()),
            QStringLiteral("the user name and password"));
    const QByteArray willTopic = settings.willTopic.toUtf8();
    if (!willTopic.isEmpty())
        check(mosquitto_will_set(mosq, willTopic.constData(), int(settings.willPayload.size()),
                  settings.willPayload.constData(), QOS, true),
            QStringLiteral("the last will"));
    if (settings.target.tls) {
        // Verified, the broker's name included, against the system's authorities or the one given.
        if (settings.caFile.isEmpty())
            check(mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1),
                QStringLiteral("the system's certificate authorities"));
        else
            check(mosquitto_tls_set(mosq, QFile::encodeName(settings.caFile).constData(), nullptr,
                      nullptr, nullptr, nullptr),
                QStringLiteral("the certificate authority '%1'").arg(settings.caFile));
    }
    setCallbacks();
    if (!problem.isEmpty())
        return problem;
    return std::nullopt;
}

void LinkSession::setCallbacks()
{
    mosquitto_log_callback_set(mosq, [](mosquitto *, void *data, int level, const char *text) {
        if (level != MOSQ_LOG_ERR)
            return;
        auto &session = *static_cast<LinkSession *>(data);
        const std::lock_guard lock(session.errorMutex);
        session.libraryErrors.append(QString::fromUtf8(text));
    });
    mosquitto_connect_callback_set(mosq, [](mosquitto *client, void *data, int result) {
        auto &session = *static_cast<LinkSession *>(data);
        if (result != 0) {
            session.refusal = result;
            return;
        }
        session.connected = true;
        session.said.clear();
        {
            const std::lock_guard lock(session.linkMutex);
            for (const QString &topic : std::as_const(session.subscriptions))
                mosquitto_subscribe(client, nullptr, topic.toUtf8().constData(), QOS);
        }
        session.post([](MqttLink &link) { Q_EMIT link.connected(); });
    });
    mosquitto_publish_callback_set(mosq, [](mosquitto *, void *data, int mid) {
        auto &session = *static_cast<LinkSession *>(data);
        const std::lock_guard lock(session.publishMutex);
        if (mid == session.awaitedMid) {
            session.awaitedDone = true;
            session.published.notify_all();
        }
    });
    mosquitto_message_callback_set(
        mosq, [](mosquitto *, void *data, const mosquitto_message *message) {
            const QString topic = QString::fromUtf8(message->topic);
            const QByteArray payload(
                static_cast<const char *>(message->payload), message->payloadlen);
            const bool retained = message->retain;
            static_cast<LinkSession *>(data)->post([topic, payload, retained](MqttLink &link) {
                Q_EMIT link.messageArrived(topic, payload, retained);
            });
        });
}

LinkAttempt LinkSession::attempt()
{
    LinkAttempt result;
    refusal = 0;
    {
        const std::lock_guard lock(errorMutex);
        libraryErrors.clear();
    }
    const QByteArray host = settings.target.host.toUtf8();
    errno = 0;
    result.result = mosquitto_connect(mosq, host.constData(), settings.target.port, KEEPALIVE_S);
    result.systemError = errno;
    const auto deadline = steady_clock::now() + std::chrono::seconds(MqttLink::ANSWER_WAIT_S);
    while (result.result == MOSQ_ERR_SUCCESS && !isEnding()) {
        errno = 0;
        result.result = mosquitto_loop(mosq, LOOP_WAIT_MS, 1);
        result.systemError = errno;
        result.unanswered = !connected && refusal == 0 && steady_clock::now() > deadline;
        if (result.unanswered)
            break;
    }
    if (isEnding()) {
        // The goodbye the link's end asked for.
        for (int pass = 0; pass < GOODBYE_PASSES && mosquitto_want_write(mosq); ++pass)
            mosquitto_loop(mosq, LOOP_WAIT_MS, 1);
    }
    result.refusal = refusal;
    result.wasConnected = connected.exchange(false);
    const std::lock_guard lock(errorMutex);
    result.libraryErrors = libraryErrors;
    return result;
}

void LinkSession::keepConnected()
{
    int delayS = 1;
    while (!isEnding()) {
        const LinkAttempt ended = attempt();
        if (isEnding())
            break;
        if (ended.wasConnected)
            delayS = 1;
        const QString why = ended.reason(settings.target, settings.caFile, MqttLink::ANSWER_WAIT_S);
        if (!said.contains(why)) {
            said.append(why);
            post([why](MqttLink &link) { Q_EMIT link.down(why); });
        }
        if (!pause(delayS))
            break;
        delayS = std::min(delayS * 2, MqttLink::LONGEST_RETRY_S);
    }
}

} // namespace tirvel
