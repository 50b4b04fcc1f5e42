#pragma once

#include "camera_backend.h"

#include <QString>

#include <optional>

namespace tirvel {

// Opens the camera with the given description through GStreamer, outside Qt, and starts it just
// long enough to learn whether the system refuses it or another program holds it; Qt 6.4 keeps
// those errors to itself. Blocks for up to a few seconds: call it off the window's thread, and
// only while nothing else holds the camera. Empty when the camera is not found or starts fine.
std::optional<CameraFault> probeCamera(const QString &description);

} // namespace tirvel
