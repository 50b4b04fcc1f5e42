#include "troubles.h"

#include <QDateTime>
#include <QLocale>

namespace tirvel {

Troubles::Troubles(int unreachableMs, QObject *parent)
    : QObject(parent)
{
    m_unreachable.setSingleShot(true);
    m_unreachable.setInterval(unreachableMs);
    connect(&m_unreachable, &QTimer::timeout, this,
        [this] { set(Kind::BrokerUnreachable, true, m_unreachableWhy); });
}

QString Troubles::summary(Kind kind)
{
    switch (kind) {
    case Kind::CameraLost:
        return QStringLiteral("Kameran ger ingen bild");
    case Kind::FramesStale:
        return QStringLiteral("Inga nya bilder");
    case Kind::EventFolder:
        return QStringLiteral("Händelsemappen går inte att skriva i");
    case Kind::BrokerRefused:
        return QStringLiteral("MQTT-brokern släpper inte in Tirvel");
    case Kind::BrokerUnreachable:
        return QStringLiteral("MQTT-brokern går inte att nå");
    }
    return {};
}

void Troubles::set(Kind kind, bool present, const QString &detail)
{
    if (present == m_present.contains(kind))
        return;
    if (present) {
        m_present.emplace(kind, detail);
        Q_EMIT arose(summary(kind),
            detail.isEmpty() ? QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat)
                             : detail);
    } else {
        m_present.erase(kind);
    }
    Q_EMIT changed(lines());
}

void Troubles::brokerDown(const QString &why, bool refused)
{
    if (refused) {
        m_unreachable.stop();
        set(Kind::BrokerUnreachable, false);
        set(Kind::BrokerRefused, true, why);
        return;
    }
    // Out of reach since the first reason, whatever the later ones say.
    m_unreachableWhy = why;
    if (!m_unreachable.isActive())
        m_unreachable.start();
}

void Troubles::brokerConnected()
{
    m_unreachable.stop();
    set(Kind::BrokerRefused, false);
    set(Kind::BrokerUnreachable, false);
}

QStringList Troubles::lines() const
{
    QStringList lines;
    for (const auto &present : m_present)
        lines << summary(present.first);
    return lines;
}

} // namespace tirvel
