#include "fake_camera_source.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace tirvel::fakecam {

namespace {

// Decides for each frame of one element whether it leaves the element. Owned by the pad probe,
// so it lives as long as frames can reach it.
struct FrameGate
{
    std::shared_ptr<FakeCameraState> camera;
    // The first element the device ever made, the one a freeze-first camera freezes.
    bool first = false;
    std::atomic<std::uint64_t> delivered = 0;
    // Touched by the streaming thread only.
    bool still = false;
    gint64 replayStartUs = -1;
};

struct FakeCameraSource
{
    GstBin parent;
    FrameGate *gate;
};

GstElementClass *sourceParentClass = nullptr;

// Pixels a frame the test pattern moves by.
constexpr int PATTERN_SPEED = 4;

// Y is every other byte of YUY2 and the whole first plane of 4:2:0; all else is grey.
void paintGreyRamp(GstPad *pad, GstPadProbeInfo *info)
{
    GstCaps *caps = gst_pad_get_current_caps(pad);
    const GstStructure *format = gst_caps_get_structure(caps, 0);
    int width = 0;
    int height = 0;
    gst_structure_get(format, "width", G_TYPE_INT, &width, "height", G_TYPE_INT, &height, nullptr);
    const int step = g_str_equal(gst_structure_get_string(format, "format"), "YUY2") ? 2 : 1;
    gst_caps_unref(caps);
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::memset(map.data, 128, map.size);
    for (int i = 0; i < width * height; ++i)
        map.data[i / width * GST_ROUND_UP_4(width * step) + i % width * step]
            = GREY_RAMP_LEVELS.at(i % width * GREY_RAMP_LEVELS.size() / width);
    gst_buffer_unmap(buffer, &map);
}

// Holds a replayed frame back until it is due by the frame rate of the caps, then stamps it with
// the pipeline's time, as a live camera's frames are: files carry no clock of their own.
void pace(GstPad *pad, GstPadProbeInfo *info, FrameGate &gate)
{
    int numerator = 5;
    int denominator = 1;
    if (GstCaps *caps = gst_pad_get_current_caps(pad)) {
        gst_structure_get_fraction(
            gst_caps_get_structure(caps, 0), "framerate", &numerator, &denominator);
        gst_caps_unref(caps);
    }
    const gint64 now = g_get_monotonic_time();
    if (gate.replayStartUs < 0)
        gate.replayStartUs = now;
    const gint64 due = gate.replayStartUs
        + gint64(
            gst_util_uint64_scale(G_USEC_PER_SEC, (gate.delivered - 1) * denominator, numerator));
    if (due > now)
        g_usleep(gulong(due - now));
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstElement *element = GST_PAD_PARENT(pad);
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    if (GstClock *clock = gst_element_get_clock(element)) {
        GST_BUFFER_PTS(buffer) = gst_clock_get_time(clock) - gst_element_get_base_time(element);
        gst_object_unref(clock);
    }
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(GST_SECOND, denominator, numerator);
}

GstPadProbeReturn passOrDrop(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    FrameGate &gate = *static_cast<FrameGate *>(data);
    FakeCameraState &camera = *gate.camera;
    if (!camera.present)
        return GST_PAD_PROBE_DROP;
    // The pattern slides sideways unless the scene is to stand still.
    const bool still = camera.mode == FakeCameraMode::Still;
    if (still != gate.still) {
        gate.still = still;
        if (GstObject *pattern = gst_pad_get_parent(pad)) {
            g_object_set(pattern, "horizontal-speed", still ? 0 : PATTERN_SPEED, nullptr);
            gst_object_unref(pattern);
        }
    }
    switch (camera.mode.load()) {
    case FakeCameraMode::Silent:
        return GST_PAD_PROBE_DROP;
    case FakeCameraMode::FreezeFirst:
        if (gate.first && gate.delivered > 0)
            return GST_PAD_PROBE_DROP;
        break;
    default:
        break;
    }
    ++gate.delivered;
    ++camera.frameCount;
    if (camera.mode == FakeCameraMode::GreyRamp)
        paintGreyRamp(pad, info);
    if (camera.mode == FakeCameraMode::Replay)
        pace(pad, info, gate);
    return GST_PAD_PROBE_OK;
}

// The errors and messages are v4l2src's, so that whatever reads them sees what a real camera
// would make it see.
GstStateChangeReturn changeState(GstElement *element, GstStateChange transition)
{
    const FakeCameraState &camera = *reinterpret_cast<FakeCameraSource *>(element)->gate->camera;
    const char *path = camera.path.c_str();
    switch (transition) {
    case GST_STATE_CHANGE_NULL_TO_READY:
        if (!camera.present) {
            GST_ELEMENT_ERROR(element, RESOURCE, NOT_FOUND, ("Cannot identify device '%s'.", path),
                ("system error: No such file or directory"));
            return GST_STATE_CHANGE_FAILURE;
        }
        if (camera.mode == FakeCameraMode::Denied) {
            GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ_WRITE,
                ("Could not open device '%s' for reading and writing.", path),
                ("system error: Permission denied"));
            return GST_STATE_CHANGE_FAILURE;
        }
        break;
    case GST_STATE_CHANGE_READY_TO_PAUSED:
        if (camera.mode == FakeCameraMode::Busy) {
            GST_ELEMENT_ERROR(element, RESOURCE, BUSY, ("Device '%s' is busy", path),
                ("another program is streaming from the camera"));
            return GST_STATE_CHANGE_FAILURE;
        }
        break;
    default:
        break;
    }
    return sourceParentClass->change_state(element, transition);
}

void initSourceClass(gpointer klass, gpointer)
{
    sourceParentClass = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
    auto *elementClass = GST_ELEMENT_CLASS(klass);
    elementClass->change_state = changeState;
    gst_element_class_set_static_metadata(elementClass, "Tirvel fake camera source", "Source/Video",
        "A live test pattern that behaves like a working or a broken webcam", "Tirvel");
}

GType fakeCameraSourceType()
{
    static const GType TYPE = g_type_register_static_simple(GST_TYPE_BIN, "TirvelFakeCameraSource",
        sizeof(GstBinClass), initSourceClass, sizeof(FakeCameraSource), nullptr, GTypeFlags {});
    return TYPE;
}

GstElement *makeElement(const char *factory, const char *name)
{
    GstElement *element = gst_element_factory_make(factory, name);
    if (!element)
        g_error(
            "fake camera: GStreamer has no %s element; install gstreamer1.0-plugins-base", factory);
    return element;
}

} // namespace

GstElement *createFakeCameraSource(std::shared_ptr<FakeCameraState> camera, const gchar *name)
{
    GstElement *pattern = nullptr;
    if (camera->mode == FakeCameraMode::Replay) {
        const char *files = g_getenv("TIRVEL_FAKE_CAMERA_REPLAY");
        if (!files)
            g_error("fake camera: a replaying camera needs TIRVEL_FAKE_CAMERA_REPLAY");
        pattern = makeElement("multifilesrc", "pattern");
        g_object_set(pattern, "location", files, "caps", camera->caps, nullptr);
    } else {
        pattern = makeElement("videotestsrc", "pattern");
        g_object_set(pattern, "is-live", TRUE, "horizontal-speed", PATTERN_SPEED, nullptr);
        // Colour bars without the snow of the usual pattern, so that a still camera is still.
        gst_util_set_object_arg(G_OBJECT(pattern), "pattern", "smpte100");
    }
    GstElement *filter = makeElement("capsfilter", "device-caps");
    // A format the camera does not offer fails to negotiate, as it would with a real one.
    g_object_set(filter, "caps", camera->caps, nullptr);

    auto *source = reinterpret_cast<FakeCameraSource *>(
        g_object_new(fakeCameraSourceType(), "name", name, nullptr));
    GstElement *element = GST_ELEMENT(source);
    gst_bin_add_many(GST_BIN(element), pattern, filter, nullptr);
    gst_element_link(pattern, filter);
    GstPad *filterPad = gst_element_get_static_pad(filter, "src");
    gst_element_add_pad(element, gst_ghost_pad_new("src", filterPad));
    gst_object_unref(filterPad);

    const bool first = camera->elementCount++ == 0;
    source->gate = new FrameGate {std::move(camera), first};
    GstPad *patternPad = gst_element_get_static_pad(pattern, "src");
    gst_pad_add_probe(patternPad, GST_PAD_PROBE_TYPE_BUFFER, passOrDrop, source->gate,
        [](gpointer gate) { delete static_cast<FrameGate *>(gate); });
    gst_object_unref(patternPad);
    return element;
}

} // namespace tirvel::fakecam
