#include "fake_camera_device.h"

#include "fake_camera_registry.h"
#include "fake_camera_source.h"

namespace tirvel::fakecam {

namespace {

struct FakeCameraDevice
{
    GstDevice parent;
    std::shared_ptr<FakeCameraState> *camera;
};

GObjectClass *deviceParentClass = nullptr;

FakeCameraDevice *asFakeCameraDevice(gpointer object)
{
    return reinterpret_cast<FakeCameraDevice *>(object);
}

GstElement *createElement(GstDevice *device, const gchar *name)
{
    // Like v4l2src opening the device's node: a device someone still holds after its camera was
    // pulled out reaches the camera plugged in again under the same name, or a dead one.
    const std::shared_ptr<FakeCameraState> &own = *asFakeCameraDevice(device)->camera;
    const std::shared_ptr<FakeCameraState> current
        = FakeCameraRegistry::instance().plugged(own->name);
    return createFakeCameraSource(current ? current : own, name);
}

void finalizeDevice(GObject *object)
{
    delete asFakeCameraDevice(object)->camera;
    deviceParentClass->finalize(object);
}

void initDeviceClass(gpointer klass, gpointer)
{
    deviceParentClass = G_OBJECT_CLASS(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = finalizeDevice;
    GST_DEVICE_CLASS(klass)->create_element = createElement;
}

GType fakeCameraDeviceType()
{
    static const GType TYPE = g_type_register_static_simple(GST_TYPE_DEVICE,
        "TirvelFakeCameraDevice", sizeof(GstDeviceClass), initDeviceClass, sizeof(FakeCameraDevice),
        nullptr, GTypeFlags {});
    return TYPE;
}

} // namespace

GstDevice *createFakeCameraDevice(std::shared_ptr<FakeCameraState> camera)
{
    // Not named v4l2deviceprovider: Qt would then open the path and ask it V4L2 questions.
    GstStructure *properties = gst_structure_new("tirvel-fake-camera", "device.path", G_TYPE_STRING,
        camera->path.c_str(), "device.api", G_TYPE_STRING, "tirvel-fake", nullptr);
    auto *device = asFakeCameraDevice(
        g_object_new(fakeCameraDeviceType(), "display-name", camera->name.c_str(), "caps",
            camera->caps, "device-class", "Video/Source", "properties", properties, nullptr));
    gst_structure_free(properties);
    device->camera = new std::shared_ptr<FakeCameraState>(std::move(camera));
    return GST_DEVICE(device);
}

} // namespace tirvel::fakecam
