#include "fake_camera_registry.h"

#include "fake_camera_device.h"

#include <stdexcept>

namespace tirvel::fakecam {

FakeCameraRegistry &FakeCameraRegistry::instance()
{
    // Never destroyed: GStreamer's threads may still reach it while the process exits.
    static auto *registry = new FakeCameraRegistry;
    return *registry;
}

void FakeCameraRegistry::add(const std::string &name, FakeCameraMode mode, GstCaps *caps)
{
    const std::lock_guard lock(m_mutex);
    if (m_cameras.contains(name)) {
        gst_caps_unref(caps);
        throw std::invalid_argument("fake camera already plugged in: " + name);
    }
    const auto [number, isNew] = m_deviceNumbers.try_emplace(name, int(m_deviceNumbers.size()));
    Camera &camera = m_cameras[name];
    camera.state = std::make_shared<FakeCameraState>(
        name, "/dev/tirvel-fake-video" + std::to_string(number->second), caps, mode);
    if (m_provider)
        announce(camera);
}

void FakeCameraRegistry::remove(const std::string &name)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_cameras.find(name);
    if (found == m_cameras.end())
        throw std::invalid_argument("no fake camera plugged in: " + name);
    Camera &camera = found->second;
    camera.state->present = false;
    if (camera.announced) {
        gst_device_provider_device_remove(m_provider, camera.announced);
        gst_object_unref(camera.announced);
    }
    m_cameras.erase(found);
}

std::shared_ptr<FakeCameraState> FakeCameraRegistry::find(const std::string &name) const
{
    std::shared_ptr<FakeCameraState> camera = plugged(name);
    if (!camera)
        throw std::invalid_argument("no fake camera plugged in: " + name);
    return camera;
}

std::shared_ptr<FakeCameraState> FakeCameraRegistry::plugged(const std::string &name) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_cameras.find(name);
    return found == m_cameras.end() ? nullptr : found->second.state;
}

bool FakeCameraRegistry::start(GstDeviceProvider *provider)
{
    const std::lock_guard lock(m_mutex);
    if (m_provider)
        return false;
    m_provider = provider;
    // Announced before start returns, as the V4L2 provider does: a monitor's first list of
    // devices already holds them.
    for (auto &[name, camera] : m_cameras)
        announce(camera);
    return true;
}

void FakeCameraRegistry::stop(GstDeviceProvider *provider)
{
    const std::lock_guard lock(m_mutex);
    if (provider != m_provider)
        return;
    // The provider itself lets go of the devices it announced.
    for (auto &[name, camera] : m_cameras) {
        if (camera.announced)
            gst_object_unref(camera.announced);
        camera.announced = nullptr;
    }
    m_provider = nullptr;
}

GList *FakeCameraRegistry::probe() const
{
    const std::lock_guard lock(m_mutex);
    GList *devices = nullptr;
    for (const auto &[name, camera] : m_cameras)
        devices = g_list_append(devices, createFakeCameraDevice(camera.state));
    return devices;
}

void FakeCameraRegistry::announce(Camera &camera)
{
    camera.announced = GST_DEVICE(gst_object_ref_sink(createFakeCameraDevice(camera.state)));
    gst_device_provider_device_add(m_provider, camera.announced);
}

} // namespace tirvel::fakecam
