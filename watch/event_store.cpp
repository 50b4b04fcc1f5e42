#include "event_store.h"

#include <QDir>
#include <QThread>

namespace tirvel {

EventStore::EventStore(
    const QString &folder, int keep, std::function<void()> beforeEachWrite, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_log(folder)
    , m_pictures(folder, keep)
    , m_beforeEachWrite(std::move(beforeEachWrite))
{
}

void EventStore::beforeWrite()
{
    if (m_beforeEachWrite)
        m_beforeEachWrite();
}

void EventStore::store(Event event)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!event.timed.isNull()) {
        event.pictureBytes = EventPictures::encode(event.timed, event.marked);
        event.timed = {};
        event.marked = {};
        beforeWrite();
        QString why;
        event.pictureName = m_pictures.save(event.pictureBytes, event.time, why);
        if (why.isEmpty())
            event.picturePath = QDir(m_folder).filePath(event.pictureName);
        else
            Q_EMIT failed(
                QStringLiteral("Cannot save the event's picture in '%1': %2").arg(m_folder, why));
    }
    beforeWrite();
    const QString why = m_log.append(event.record());
    if (!why.isEmpty())
        Q_EMIT failed(QStringLiteral("Cannot write '%1': %2").arg(m_log.path(), why));
    Q_EMIT stored(event);
}

} // namespace tirvel
