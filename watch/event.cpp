#include "event.h"

#include <array>
#include <utility>

namespace tirvel {

namespace {

constexpr std::array<std::pair<EventKind, const char *>, 16> NAMES {{
    {EventKind::MotionStart, "motion-start"},
    {EventKind::MotionEnd, "motion-end"},
    {EventKind::CameraLost, "camera-lost"},
    {EventKind::CameraBack, "camera-back"},
    {EventKind::FramesStale, "frames-stale"},
    {EventKind::FramesBack, "frames-back"},
    {EventKind::CommandDropped, "command-dropped"},
    {EventKind::CommandEnded, "command-ended"},
    {EventKind::BrokerLost, "broker-lost"},
    {EventKind::BrokerBack, "broker-back"},
    {EventKind::WatchOn, "watch-on"},
    {EventKind::WatchOff, "watch-off"},
    {EventKind::CameraMode, "camera-mode"},
    {EventKind::DiskLow, "disk-low"},
    {EventKind::DiskOk, "disk-ok"},
    {EventKind::Deleted, "deleted"},
}};

QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QString eventName(EventKind kind)
{
    for (const auto &[each, name] : NAMES) {
        if (each == kind)
            return QLatin1String(name);
    }
    Q_UNREACHABLE();
    return {};
}

bool isCommandEvent(EventKind kind)
{
    return kind == EventKind::CommandDropped || kind == EventKind::CommandEnded;
}

bool runsCommand(EventKind kind)
{
    switch (kind) {
    case EventKind::MotionStart:
    case EventKind::MotionEnd:
    case EventKind::CameraLost:
    case EventKind::CameraBack:
    case EventKind::FramesStale:
    case EventKind::FramesBack:
        return true;
    case EventKind::CommandDropped:
    case EventKind::CommandEnded:
    case EventKind::BrokerLost:
    case EventKind::BrokerBack:
    case EventKind::WatchOn:
    case EventKind::WatchOff:
    case EventKind::CameraMode:
    case EventKind::DiskLow:
    case EventKind::DiskOk:
    case EventKind::Deleted:
        break;
    }
    return false;
}

QJsonObject Event::record() const
{
    QJsonObject line = fields;
    line.insert(QStringLiteral("event"), eventName(kind));
    line.insert(QStringLiteral("time"), timeText(time));
    if (!pictureName.isEmpty())
        line.insert(QStringLiteral("picture"), pictureName);
    if (!snapshotName.isEmpty())
        line.insert(QStringLiteral("snapshot"), snapshotName);
    if (!clipName.isEmpty())
        line.insert(QStringLiteral("clip"), clipName);
    return line;
}

} // namespace tirvel
