#include "camera_probe.h"

#include <QThread>

#include <gst/gst.h>

#include <memory>

namespace tirvel {

namespace {

constexpr GstClockTime PROBE_TIMEOUT = 2 * GST_SECOND;

template <typename T, void (*Free)(T *)> struct Deleter
{
    void operator()(T *pointer) const { Free(pointer); }
};

void unrefObject(GstObject *object)
{
    gst_object_unref(object);
}

void freeDeviceList(GList *list)
{
    g_list_free_full(list, gst_object_unref);
}

void freeFactoryList(GList *list)
{
    gst_plugin_feature_list_free(list);
}

using ObjectPtr = std::unique_ptr<GstObject, Deleter<GstObject, unrefObject>>;
using DeviceList = std::unique_ptr<GList, Deleter<GList, freeDeviceList>>;
using FactoryList = std::unique_ptr<GList, Deleter<GList, freeFactoryList>>;
using MessagePtr = std::unique_ptr<GstMessage, Deleter<GstMessage, gst_message_unref>>;
using ErrorPtr = std::unique_ptr<GError, Deleter<GError, g_error_free>>;

// Asks each provider itself rather than through a device monitor of our own: taking down a
// second monitor silences the one Qt runs on the same providers.
GstDevice *findDevice(const QString &description)
{
    const FactoryList factories(
        gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE));
    for (GList *factory = factories.get(); factory != nullptr; factory = factory->next) {
        ObjectPtr provider(GST_OBJECT(
            gst_device_provider_factory_get(GST_DEVICE_PROVIDER_FACTORY(factory->data))));
        if (!provider)
            continue;
        const DeviceList devices(
            gst_device_provider_get_devices(GST_DEVICE_PROVIDER(provider.get())));
        for (GList *node = devices.get(); node != nullptr; node = node->next) {
            auto *device = GST_DEVICE(node->data);
            gchar *name = gst_device_get_display_name(device);
            const bool found = name != nullptr && QString::fromUtf8(name) == description
                && gst_device_has_classes(device, "Video/Source");
            g_free(name);
            if (found)
                return GST_DEVICE(gst_object_ref(device));
        }
    }
    return nullptr;
}

std::optional<CameraFault> faultOf(const GError *error)
{
    if (error == nullptr || error->domain != GST_RESOURCE_ERROR)
        return std::nullopt;
    switch (error->code) {
    case GST_RESOURCE_ERROR_BUSY:
        return CameraFault::Busy;
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_WRITE:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
    case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        return CameraFault::AccessDenied;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<CameraFault> probeCamera(const QString &description)
{
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return std::nullopt;

    const ObjectPtr device(GST_OBJECT(findDevice(description)));
    if (!device)
        return std::nullopt;

    ObjectPtr pipeline(GST_OBJECT(gst_pipeline_new("tirvel-probe")));
    GstElement *source = gst_device_create_element(GST_DEVICE(device.get()), nullptr);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    if (source == nullptr || sink == nullptr) {
        if (source != nullptr)
            gst_object_unref(source);
        if (sink != nullptr)
            gst_object_unref(sink);
        return std::nullopt;
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), source, sink, nullptr);
    gst_element_link(source, sink);

    std::optional<CameraFault> fault;
    // A camera held elsewhere fails only once it is asked to stream.
    gst_element_set_state(GST_ELEMENT(pipeline.get()), GST_STATE_PLAYING);
    ObjectPtr bus(GST_OBJECT(gst_element_get_bus(GST_ELEMENT(pipeline.get()))));
    const MessagePtr message(gst_bus_timed_pop_filtered(GST_BUS(bus.get()), PROBE_TIMEOUT,
        GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE)));
    if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        GError *error = nullptr;
        gst_message_parse_error(message.get(), &error, nullptr);
        const ErrorPtr owned(error);
        fault = faultOf(error);
    }
    gst_element_set_state(GST_ELEMENT(pipeline.get()), GST_STATE_NULL);
    return fault;
}

void CameraProber::probe(const QString &deviceId, const QString &description, int delayMs)
{
    Q_ASSERT(QThread::currentThread() == thread());
    QThread::msleep(delayMs);
    if (const std::optional<CameraFault> fault = probeCamera(description))
        Q_EMIT diagnosed(deviceId, *fault);
}

} // namespace tirvel
