#pragma once

#include "fake_camera_state.h"

#include <gst/gst.h>

#include <memory>

namespace tirvel::fakecam {

// The element a fake device makes: a live test pattern in the device's caps behind a "src"
// ghost pad, which lets through, holds back or refuses to start as the camera's mode says.
GstElement *createFakeCameraSource(std::shared_ptr<FakeCameraState> camera, const gchar *name);

} // namespace tirvel::fakecam
