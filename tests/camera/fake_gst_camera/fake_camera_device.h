#pragma once

#include "fake_camera_state.h"

#include <gst/gst.h>

#include <memory>

namespace tirvel::fakecam {

// A floating GstDevice of class Video/Source for the camera, whose elements read its state.
GstDevice *createFakeCameraDevice(std::shared_ptr<FakeCameraState> camera);

} // namespace tirvel::fakecam
