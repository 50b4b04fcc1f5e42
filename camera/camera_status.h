#pragma once

#include <QMetaType>

namespace tirvel {

// What the live view shows: a camera's picture, or why there is none.
enum class CameraStatus {
    Showing,
    // No camera is there at all,
    NoCamera,
    // or none with the name asked for.
    Waiting,
    Starting,
    Silent,
    Busy,
    AccessDenied,
};

} // namespace tirvel

Q_DECLARE_METATYPE(tirvel::CameraStatus)
