#include "notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QThread>
#include <QVariantMap>

namespace tirvel {

Notifier::Notifier(const QString &desktopId, QObject *parent)
    : QObject(parent)
    , m_desktopId(desktopId)
{
}

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString PATH = QStringLiteral("/org/freedesktop/Notifications");
const QString DEFAULT_ACTION = QStringLiteral("default");

} // namespace

void Notifier::actionInvoked(quint32 id, const QString &action)
{
    const auto found = m_references.constFind(id);
    if (found != m_references.constEnd() && action == DEFAULT_ACTION)
        Q_EMIT shown(*found);
}

void Notifier::notificationClosed(quint32 id, quint32 /*reason*/)
{
    m_references.remove(id);
}

void Notifier::notify(
    const QString &summary, const QString &body, const QString &imagePath, const QString &reference)
{
    Q_ASSERT(QThread::currentThread() == thread());
    QDBusMessage message
        = QDBusMessage::createMethodCall(SERVICE, PATH, SERVICE, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_desktopId);
    if (!imagePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), imagePath);
    const QStringList actions = reference.isEmpty()
        ? QStringList()
        : QStringList {DEFAULT_ACTION, QStringLiteral("Visa")};
    message << QStringLiteral("Tirvel") << quint32(0) << m_desktopId << summary << body << actions
            << hints << qint32(-1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!m_saidUnavailable) {
            m_saidUnavailable = true;
            Q_EMIT unavailable(QStringLiteral("there is no session bus"));
        }
        return;
    }
    if (!m_listening) {
        m_listening = true;
        bus.connect(SERVICE, PATH, SERVICE, QStringLiteral("ActionInvoked"), this,
            SLOT(actionInvoked(quint32, QString)));
        bus.connect(SERVICE, PATH, SERVICE, QStringLiteral("NotificationClosed"), this,
            SLOT(notificationClosed(quint32, quint32)));
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, reference](QDBusPendingCallWatcher *call) {
            const QDBusPendingReply<quint32> reply = *call;
            if (reply.isError() && !m_saidUnavailable) {
                m_saidUnavailable = true;
                Q_EMIT unavailable(reply.error().message());
            } else if (!reply.isError()) {
                m_saidUnavailable = false;
                if (!reference.isEmpty())
                    m_references.insert(reply.value(), reference);
            }
            call->deleteLater();
        });
}

} // namespace tirvel
