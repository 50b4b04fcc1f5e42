#pragma once

#include <gst/gst.h>

namespace tirvel::fakecam {

// The plugin's entry point: registers the device provider "tirvelfakecamprovider".
gboolean registerFakeCameraFeatures(GstPlugin *plugin);

} // namespace tirvel::fakecam
