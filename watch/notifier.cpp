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

void Notifier::notify(const QString &summary, const QString &body, const QString &imagePath)
{
    Q_ASSERT(QThread::currentThread() == thread());
    QDBusMessage message
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_desktopId);
    if (!imagePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), imagePath);
    message << QStringLiteral("Tirvel") << quint32(0) << m_desktopId << summary << body
            << QStringList() << hints << qint32(-1);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!m_saidUnavailable) {
            m_saidUnavailable = true;
            Q_EMIT unavailable(QStringLiteral("there is no session bus"));
        }
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
            const QDBusPendingReply<quint32> reply = *call;
            if (reply.isError() && !m_saidUnavailable) {
                m_saidUnavailable = true;
                Q_EMIT unavailable(reply.error().message());
            } else if (!reply.isError()) {
                m_saidUnavailable = false;
            }
            call->deleteLater();
        });
}

} // namespace tirvel
