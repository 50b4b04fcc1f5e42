// The fake cameras as a plugin GStreamer loads from GST_PLUGIN_PATH, for running the real
// program. TIRVEL_FAKE_CAMERAS says which cameras are plugged in when it loads:
//
//   TIRVEL_FAKE_CAMERAS="Fake Camera A=working;Fake Camera B=silent;Small=working=320x240,160x120"
//
// Cameras are separated by ';', each NAME[=MODE[=SIZES]]. MODE is working (the default),
// freeze-first, silent, busy, denied, still or replay, which plays the JPEG files that
// TIRVEL_FAKE_CAMERA_REPLAY names; SIZES, WIDTHxHEIGHT separated by ',', replace the default
// formats with YUY2 at those sizes, 30 frames a second.
//
// TIRVEL_FAKE_CAMERA_CONTROL names a file a test rewrites while the program runs: whenever it
// changes, each of its lines, NAME=MODE, NAME=pulled or NAME=plugged, is carried out, from the
// program's main loop.

#include "fake_camera_provider.h"
#include "fake_gst_camera.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tirvel::fakecam;

std::vector<std::string> split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(separator, begin), text.size());
        parts.emplace_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

std::vector<std::string> capsForSizes(const std::string &sizes)
{
    std::vector<std::string> caps;
    for (const std::string &size : split(sizes, ',')) {
        int width = 0;
        int height = 0;
        char end = 0;
        if (std::sscanf(size.c_str(), "%dx%d%c", &width, &height, &end) != 2 || width <= 0
            || height <= 0)
            throw std::invalid_argument("not a size: " + size);
        caps.push_back("video/x-raw,format=YUY2,width=" + std::to_string(width)
            + ",height=" + std::to_string(height) + ",framerate=30/1");
    }
    return caps;
}

void plugIn(const std::string &entry)
{
    const std::vector<std::string> fields = split(entry, '=');
    if (fields.size() > 3 || fields[0].empty())
        throw std::invalid_argument("expected NAME[=MODE[=SIZES]]");
    FakeCameraMode mode = FakeCameraMode::Working;
    if (fields.size() > 1) {
        const auto named = fakeCameraModeFromName(fields[1]);
        if (!named)
            throw std::invalid_argument("unknown mode " + fields[1]);
        mode = *named;
    }
    addFakeCamera(
        fields[0], mode, fields.size() > 2 ? capsForSizes(fields[2]) : defaultFakeCameraCaps(mode));
}

gboolean followControlFile(gpointer path)
{
    static std::string seen;
    gchar *contents = nullptr;
    if (!g_file_get_contents(static_cast<const char *>(path), &contents, nullptr, nullptr))
        return G_SOURCE_CONTINUE;
    const std::string text(contents);
    g_free(contents);
    if (text == seen)
        return G_SOURCE_CONTINUE;
    seen = text;
    for (const std::string &line : split(text, '\n')) {
        const std::vector<std::string> fields = split(line, '=');
        if (fields.size() != 2)
            continue;
        try {
            if (fields[1] == "pulled")
                removeFakeCamera(fields[0]);
            else if (fields[1] == "plugged")
                addFakeCamera(fields[0]);
            else if (const auto mode = fakeCameraModeFromName(fields[1]))
                setFakeCameraMode(fields[0], *mode);
        } catch (const std::exception &error) {
            g_warning("TIRVEL_FAKE_CAMERA_CONTROL: \"%s\": %s", line.c_str(), error.what());
        }
    }
    return G_SOURCE_CONTINUE;
}

gboolean initPlugin(GstPlugin *plugin)
{
    if (!registerFakeCameraFeatures(plugin))
        return FALSE;
    if (const char *control = g_getenv("TIRVEL_FAKE_CAMERA_CONTROL"))
        g_timeout_add(200, followControlFile, g_strdup(control));
    const char *cameras = g_getenv("TIRVEL_FAKE_CAMERAS");
    if (!cameras || !*cameras)
        return TRUE;
    for (const std::string &entry : split(cameras, ';')) {
        if (entry.empty())
            continue;
        try {
            plugIn(entry);
        } catch (const std::exception &error) {
            g_warning("TIRVEL_FAKE_CAMERAS: \"%s\": %s", entry.c_str(), error.what());
        }
    }
    return TRUE;
}

} // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tirvelfakecam,
    "Fake cameras for running Tirvel without a webcam", initPlugin, "0.1", GST_LICENSE_UNKNOWN,
    "tirvel", "tirvel")
