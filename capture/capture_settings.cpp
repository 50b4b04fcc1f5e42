#include "capture_settings.h"

#include <cmath>

namespace tirvel {

namespace {

constexpr double TWIPS_PER_INCH = 1440.0;
constexpr double HIMETRIC_PER_INCH = 2540.0;

} // namespace

QVariantMap CaptureSettings::toVariantMap() const
{
    return {
        {QString::fromLatin1(EXTENT_X_KEY), QVariant::fromValue(extentX)},
        {QString::fromLatin1(EXTENT_Y_KEY), QVariant::fromValue(extentY)},
        {QString::fromLatin1(VIDEO_STREAM_EVENT_ENABLED_KEY), videoStreamEventEnabled},
        {QString::fromLatin1(USE_PRECISE_CAPTURE_CONTROLS_KEY), usePreciseCaptureControls},
    };
}

QSize CaptureSettings::sizeInTwips() const
{
    return {himetricToTwips(extentX), himetricToTwips(extentY)};
}

QSize CaptureSettings::sizeInPixels() const
{
    const QSize twips = sizeInTwips();
    return {twipsToPixels(twips.width()), twipsToPixels(twips.height())};
}

std::int32_t CaptureSettings::himetricToTwips(std::int32_t himetric)
{
    // Any 32-bit extent times 1440 stays well inside a double's exact range, and the result is
    // smaller than the input, so it fits back.
    return static_cast<std::int32_t>(std::lround(himetric * TWIPS_PER_INCH / HIMETRIC_PER_INCH));
}

std::int32_t CaptureSettings::twipsToPixels(std::int32_t twips)
{
    return static_cast<std::int32_t>(std::lround(twips / double(TWIPS_PER_PIXEL)));
}

} // namespace tirvel
