#pragma once

#include "format_candidate.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVideoFrame>

namespace tirvel {

// What the camera view needs from a camera: which devices exist, one device running at a time,
// its formats, and its frames. Failures are reported through errorOccurred, possibly from inside
// start() or applyFormat(); a backend stays usable after any of them, and stop() is always safe.
class CameraBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CameraBackend() override;

    // The devices present now, the system's default first.
    virtual QStringList deviceIds() const = 0;

    virtual void start(const QString &deviceId) = 0;
    virtual void stop() = 0;
    // Empty while no device runs, including after a failure.
    virtual QString activeDeviceId() const = 0;

    // The formats of the running device, in the order applyFormat() takes its positions.
    virtual QList<FormatCandidate> formats() const = 0;
    virtual void applyFormat(qsizetype position) = 0;
    // The format the device runs with, as far as it is known; an unknown resolution is empty.
    virtual FormatCandidate currentFormat() const = 0;

Q_SIGNALS:
    void devicesChanged();
    void frameArrived(const QVideoFrame &frame);
    void errorOccurred(const QString &description);
};

} // namespace tirvel
