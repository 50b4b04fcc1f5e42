#pragma once

#include "camera_backend.h"

#include <QObject>
#include <QString>

#include <optional>

namespace tirvel {

// Opens the camera with the given description through GStreamer, outside Qt, and starts it just
// long enough to learn whether the system refuses it or another program holds it; Qt 6.4 keeps
// those errors to itself. Blocks for up to a few seconds: call it off the window's thread, and
// only while nothing else holds the camera. Empty when the camera is not found or starts fine.
std::optional<CameraFault> probeCamera(const QString &description);

// Probes cameras one after another on the thread it is moved to, and says what it found.
class CameraProber : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Waits delayMs first, for the camera to be let go.
    void probe(const QString &deviceId, const QString &description, int delayMs);

Q_SIGNALS:
    void diagnosed(const QString &deviceId, tirvel::CameraFault fault);
};

} // namespace tirvel
