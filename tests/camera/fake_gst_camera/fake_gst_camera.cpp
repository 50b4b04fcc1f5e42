#include "fake_gst_camera.h"

#include "fake_camera_provider.h"
#include "fake_camera_registry.h"

#include <gst/gst.h>

#include <array>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace tirvel::fakecam {

namespace {

constexpr std::array MODE_NAMES {
    std::pair {"working", FakeCameraMode::Working},
    std::pair {"freeze-first", FakeCameraMode::FreezeFirst},
    std::pair {"silent", FakeCameraMode::Silent},
    std::pair {"busy", FakeCameraMode::Busy},
    std::pair {"denied", FakeCameraMode::Denied},
    std::pair {"still", FakeCameraMode::Still},
    std::pair {"replay", FakeCameraMode::Replay},
};

void initGStreamer()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
}

} // namespace

std::optional<FakeCameraMode> fakeCameraModeFromName(std::string_view name)
{
    for (const auto &[modeName, mode] : MODE_NAMES) {
        if (name == modeName)
            return mode;
    }
    return std::nullopt;
}

std::vector<std::string> defaultFakeCameraCaps(FakeCameraMode mode)
{
    if (mode == FakeCameraMode::Replay)
        return {"image/jpeg,width=640,height=480,framerate=5/1"};
    return {"video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
        "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1"};
}

void registerFakeCameraPlugin()
{
    static std::once_flag once;
    std::call_once(once, [] {
        initGStreamer();
        gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "tirvelfakecam",
            "Fake cameras for Tirvel's tests", registerFakeCameraFeatures, "0.1",
            GST_LICENSE_UNKNOWN, "tirvel", "tirvel", "tirvel");
    });
}

void addFakeCamera(
    const std::string &name, FakeCameraMode mode, const std::vector<std::string> &caps)
{
    initGStreamer();
    if (caps.empty())
        throw std::invalid_argument("a fake camera needs at least one format: " + name);
    GstCaps *all = gst_caps_new_empty();
    for (const std::string &text : caps) {
        GstCaps *one = gst_caps_from_string(text.c_str());
        if (!one) {
            gst_caps_unref(all);
            throw std::invalid_argument("not a caps string: " + text);
        }
        gst_caps_append(all, one);
    }
    FakeCameraRegistry::instance().add(name, mode, all);
}

void removeFakeCamera(const std::string &name)
{
    FakeCameraRegistry::instance().remove(name);
}

void setFakeCameraMode(const std::string &name, FakeCameraMode mode)
{
    FakeCameraRegistry::instance().find(name)->mode = mode;
}

std::string fakeCameraPath(const std::string &name)
{
    return FakeCameraRegistry::instance().find(name)->path;
}

int fakeCameraElementCount(const std::string &name)
{
    return FakeCameraRegistry::instance().find(name)->elementCount;
}

std::uint64_t fakeCameraFrameCount(const std::string &name)
{
    return FakeCameraRegistry::instance().find(name)->frameCount;
}

} // namespace tirvel::fakecam
