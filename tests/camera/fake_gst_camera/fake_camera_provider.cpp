#include "fake_camera_provider.h"

#include "fake_camera_registry.h"

namespace tirvel::fakecam {

namespace {

gboolean startProvider(GstDeviceProvider *provider)
{
    return FakeCameraRegistry::instance().start(provider);
}

void stopProvider(GstDeviceProvider *provider)
{
    FakeCameraRegistry::instance().stop(provider);
}

GList *probeProvider(GstDeviceProvider *)
{
    return FakeCameraRegistry::instance().probe();
}

void initProviderClass(gpointer klass, gpointer)
{
    auto *providerClass = GST_DEVICE_PROVIDER_CLASS(klass);
    providerClass->start = startProvider;
    providerClass->stop = stopProvider;
    providerClass->probe = probeProvider;
    gst_device_provider_class_set_static_metadata(providerClass, "Tirvel fake cameras",
        "Source/Video", "Test-pattern cameras that tests plug in, pull out and break on purpose",
        "Tirvel");
}

GType fakeCameraProviderType()
{
    static const GType TYPE = g_type_register_static_simple(GST_TYPE_DEVICE_PROVIDER,
        "TirvelFakeCameraProvider", sizeof(GstDeviceProviderClass), initProviderClass,
        sizeof(GstDeviceProvider), nullptr, GTypeFlags {});
    return TYPE;
}

} // namespace

gboolean registerFakeCameraFeatures(GstPlugin *plugin)
{
    // Qt's device monitor only asks providers of at least marginal rank; primary matches v4l2.
    return gst_device_provider_register(
        plugin, "tirvelfakecamprovider", GST_RANK_PRIMARY, fakeCameraProviderType());
}

} // namespace tirvel::fakecam
