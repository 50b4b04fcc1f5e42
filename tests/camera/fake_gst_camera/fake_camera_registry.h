#pragma once

#include "fake_camera_state.h"

#include <gst/gst.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tirvel::fakecam {

// The cameras plugged in now, and the provider that announces them. Tests change it from their
// own thread while GStreamer's threads read it; one lock keeps an announcement and the change
// behind it together, so a device is never announced after it was pulled out.
class FakeCameraRegistry
{
public:
    static FakeCameraRegistry &instance();

    // Takes caps.
    void add(const std::string &name, FakeCameraMode mode, GstCaps *caps);
    void remove(const std::string &name);
    // Throws std::invalid_argument when no camera of that name is plugged in.
    std::shared_ptr<FakeCameraState> find(const std::string &name) const;
    // Null when no camera of that name is plugged in.
    std::shared_ptr<FakeCameraState> plugged(const std::string &name) const;

    // For the provider: start announces every camera plugged in now and every later change,
    // until stop. Only one provider announces at a time.
    bool start(GstDeviceProvider *provider);
    void stop(GstDeviceProvider *provider);
    // New devices for the cameras plugged in now, for a provider that is not started.
    GList *probe() const;

private:
    struct Camera
    {
        std::shared_ptr<FakeCameraState> state;
        // Our reference to the device the provider announced, while it is started.
        GstDevice *announced = nullptr;
    };

    void announce(Camera &camera);

    mutable std::mutex m_mutex;
    std::map<std::string, Camera> m_cameras;
    // Device numbers by name, kept after a camera is pulled out.
    std::map<std::string, int> m_deviceNumbers;
    GstDeviceProvider *m_provider = nullptr;
};

} // namespace tirvel::fakecam
