#pragma once

#include "format_candidate.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVideoFrame>

namespace tirvel {

// Why a camera shows no picture, as far as anything can tell.
enum class CameraFault {
    // It started but no picture came, or pictures stopped coming.
    Silent,
    // Another program streams from it.
    Busy,
    // The system refused to open it.
    AccessDenied,
};

struct CameraDevice
{
    QString id;
    QString description;
};

// What the camera supervisor needs from a camera: which devices exist, their formats, one device
// running at a time, and its frames. A backend need not report failures at all (Qt 6.4's
// GStreamer camera reports none): the supervisor watches the frames and asks diagnose() when they
// do not come. Nothing is ever reported from inside a call; stop() is always safe.
class CameraBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CameraBackend() override;

    // The devices present now, the system's default first, each device once.
    virtual QList<CameraDevice> devices() const = 0;
    // The formats of a device, in the order start() takes its positions.
    virtual QList<FormatCandidate> formats(const QString &deviceId) const = 0;

    // Starts the device in formats(deviceId)[format]; the format is fixed before the device runs,
    // because switching a running pipeline can stall it.
    virtual void start(const QString &deviceId, qsizetype format) = 0;
    virtual void stop() = 0;

    // Finds out, in the background, why a stopped device gave no picture; answers with
    // diagnosed().
    virtual void diagnose(const QString &deviceId) = 0;

Q_SIGNALS:
    void devicesChanged();
    void frameArrived(const QVideoFrame &frame);
    // The running device failed and has been stopped.
    void failed(const QString &deviceId, tirvel::CameraFault fault);
    void diagnosed(const QString &deviceId, tirvel::CameraFault fault);
};

} // namespace tirvel

Q_DECLARE_METATYPE(tirvel::CameraFault)
