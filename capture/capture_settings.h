#pragma once

#include <QSize>
#include <QVariantMap>

#include <cstdint>

namespace tirvel {

// The settings the window stores for its capture view, with the design values as defaults. The
// extents are in HIMETRIC (0.01 mm), the unit the stored keys have always used; the two flags are
// kept and handed on as stored, and change nothing in how the view behaves.
struct CaptureSettings
{
    static constexpr const char *EXTENT_X_KEY = "_extentx";
    static constexpr const char *EXTENT_Y_KEY = "_extenty";
    static constexpr const char *VIDEO_STREAM_EVENT_ENABLED_KEY = "videostreameventenabled";
    static constexpr const char *USE_PRECISE_CAPTURE_CONTROLS_KEY = "useprecisecapturecontrols";

    // Twips are tied to pixels at 96 dpi, which the program assumes throughout.
    static constexpr int TWIPS_PER_PIXEL = 15;

    std::int32_t extentX = 4233;
    std::int32_t extentY = 3175;
    bool videoStreamEventEnabled = true;
    bool usePreciseCaptureControls = true;

    QVariantMap toVariantMap() const;

    QSize sizeInTwips() const;
    QSize sizeInPixels() const;

    // Both conversions round to the nearest whole unit, halves away from zero.
    static std::int32_t himetricToTwips(std::int32_t himetric);
    static std::int32_t twipsToPixels(std::int32_t twips);
};

} // namespace tirvel
