#include "camera_backend.h"

namespace tirvel {

CameraBackend::~CameraBackend() = default;

} // namespace tirvel
