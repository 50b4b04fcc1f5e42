#pragma once

#include "fake_gst_camera.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace tirvel::fakecam {

// One plugging-in of a fake camera, shared by its device and every element the device makes.
// An element keeps it after the camera is pulled out, so it knows to stay dark; plugging the
// same name in again makes a new one. Streaming threads read it without a lock.
struct FakeCameraState
{
    FakeCameraState(std::string cameraName, std::string devicePath, GstCaps *ownedCaps,
        FakeCameraMode initialMode)
        : name(std::move(cameraName))
        , path(std::move(devicePath))
        , caps(ownedCaps)
        , mode(initialMode)
    {
    }
    ~FakeCameraState() { gst_caps_unref(caps); }
    FakeCameraState(const FakeCameraState &) = delete;
    FakeCameraState &operator=(const FakeCameraState &) = delete;

    const std::string name;
    const std::string path;
    GstCaps *const caps;
    std::atomic<FakeCameraMode> mode;
    std::atomic<bool> present = true;
    std::atomic<int> elementCount = 0;
    std::atomic<std::uint64_t> frameCount = 0;
};

} // namespace tirvel::fakecam
