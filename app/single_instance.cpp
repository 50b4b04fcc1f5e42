#include "single_instance.h"

#include "logging.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tirvel {

namespace {

const QString OBJECT_PATH = QLatin1Char('/') + QStringLiteral(TIRVEL_APP_ID).replace('.', '/');
const QString INTERFACE = QStringLiteral(TIRVEL_APP_ID ".Instance");

// The real path of the nearest folder that is there, and the rest of the path as it was written.
QString realPath(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing)) {
        const QFileInfo missing(existing);
        rest.prepend(QLatin1Char('/') + missing.fileName());
        existing = missing.path();
    }
    return QFileInfo(existing).canonicalFilePath() + rest;
}

} // namespace

QString SingleInstance::serviceName(const QString &frameDirectory, const QString &eventFolder)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QFile::encodeName(realPath(frameDirectory)));
    hash.addData(QByteArrayView("", 1));
    hash.addData(QFile::encodeName(realPath(eventFolder)));
    // An element of a bus name may not begin with a digit, as a hash may.
    return QStringLiteral(TIRVEL_APP_ID ".folders_")
        + QString::fromLatin1(hash.result().left(8).toHex());
}

SingleInstance::SingleInstance(QString serviceName, int answerMs)
    : m_serviceName(std::move(serviceName))
    , m_answerMs(answerMs)
{
}

std::optional<SingleInstance::Taken> SingleInstance::claim(bool events)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto cannotTell = [](const QString &why) {
        qCWarning(lcWindow, "another Tirvel with these folders cannot be found (%s)",
            qUtf8Printable(why));
        return std::nullopt;
    };
    if (!bus.isConnected())
        return cannotTell(QStringLiteral("there is no session bus"));
    // There before the name, so that a start coming between the two finds it.
    bus.registerObject(OBJECT_PATH, this, QDBusConnection::ExportScriptableSlots);
    QDBusConnectionInterface *names = bus.interface();
    const int usualMs = names->timeout();
    names->setTimeout(m_answerMs);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed
        = names->registerService(m_serviceName, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::DontAllowReplacement);
    names->setTimeout(usualMs);
    if (claimed.isValid() && claimed.value() == QDBusConnectionInterface::ServiceRegistered)
        return std::nullopt;
    bus.unregisterObject(OBJECT_PATH);
    if (!claimed.isValid())
        return cannotTell(claimed.error().message());
    return askOwnerToShow(events);
}

SingleInstance::Taken SingleInstance::askOwnerToShow(bool events) const
{
    const QDBusReply<bool> shown = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(m_serviceName, OBJECT_PATH, INTERFACE,
            events ? QStringLiteral("ShowEvents") : QStringLiteral("Show")),
        QDBus::Block, m_answerMs);
    const QString taken = QStringLiteral("another Tirvel already uses these folders");
    if (!shown.isValid()) {
        const QString why = shown.error().type() == QDBusError::NoReply
            ? QStringLiteral("no answer within %1 ms").arg(m_answerMs)
            : shown.error().message();
        return {taken + QStringLiteral(" but did not show its window (%1)").arg(why), 1};
    }
    if (shown.value())
        return {taken
                + (events ? QStringLiteral("; its events were shown")
                          : QStringLiteral("; its window was shown")),
            0};
    return {taken
            + QStringLiteral(" and runs without a window (the tirvel-watch service); stop it "
                             "with: systemctl --user stop tirvel-watch"),
        0};
}

void SingleInstance::setShowWindow(std::function<bool()> showWindow)
{
    m_showWindow = std::move(showWindow);
}

void SingleInstance::setShowEvents(std::function<bool()> showEvents)
{
    m_showEvents = std::move(showEvents);
}

bool SingleInstance::Show()
{
    return answer(m_showWindow);
}

bool SingleInstance::ShowEvents()
{
    return answer(m_showEvents);
}

bool SingleInstance::answer(const std::function<bool()> &show)
{
    if (!show) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("its window is not there yet"));
        return false;
    }
    return show();
}

} // namespace tirvel
