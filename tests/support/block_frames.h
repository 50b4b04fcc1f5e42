#pragma once

#include "bmp_writer.h"

#include <QImage>

namespace tirvel::testing {

inline constexpr QRgb GREY = 0xFF646464;
// Sample points in the block: 5 columns by 6 rows.
inline constexpr int POINTS_PER_TEST = 30;
// The start picture's top-left pixel, 0x00BBGGRR.
inline constexpr std::uint32_t START_PICTURE_CORNER = 0x00990066;

// A grey frame, with a block over POINTS_PER_TEST sample points in the top-left corner.
inline QByteArray blockFrame(QRgb block = 0xFFFFFFFF)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(GREY);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 10; ++x)
            image.setPixel(x, y, block);
    }
    return writeBmp(image);
}

inline QByteArray greyFrame()
{
    return blockFrame(GREY);
}

} // namespace tirvel::testing
