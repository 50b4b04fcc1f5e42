#include "image_from_video_frame.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <vector>

namespace tirvel {

namespace {

// libyuv's ARGB is QImage's RGB32 in a little-endian memory.
struct Target
{
    uchar *bits;
    int stride;
    const libyuv::YuvConstants *matrix;
};

// libyuv's own status: 0 when converted.
using Conversion = int (*)(const QVideoFrame &frame, const Target &to);

const libyuv::YuvConstants *fullRangeMatrix(QVideoFrameFormat::ColorSpace space)
{
    switch (space) {
    case QVideoFrameFormat::ColorSpace_BT709:
        return &libyuv::kYuvF709Constants;
    case QVideoFrameFormat::ColorSpace_BT2020:
        return &libyuv::kYuvV2020Constants;
    default:
        // JPEG's, and what a webcam means when it says nothing.
        return &libyuv::kYuvJPEGConstants;
    }
}

// Packed 4:2:2 has no matrix of its own in libyuv, so it is unpacked into planes first.
int fromPacked422(const QVideoFrame &frame, const Target &to, decltype(&libyuv::YUY2ToI422) unpack)
{
    const int width = frame.width();
    const int height = frame.height();
    const int chromaWidth = (width + 1) / 2;
    std::vector<uint8_t> planes(std::size_t(width + 2 * chromaWidth) * std::size_t(height));
    uint8_t *y = planes.data();
    uint8_t *u = y + std::size_t(width) * std::size_t(height);
    uint8_t *v = u + std::size_t(chromaWidth) * std::size_t(height);
    if (const int status = unpack(frame.bits(0), frame.bytesPerLine(0), y, width, u, chromaWidth, v,
            chromaWidth, width, height))
        return status;
    return libyuv::I422ToARGBMatrix(
        y, width, u, chromaWidth, v, chromaWidth, to.bits, to.stride, to.matrix, width, height);
}

// Three planes, Y first, and which of the others holds U.
template <int U, int V, decltype(&libyuv::I420ToARGBMatrix) CONVERT>
int fromPlanes(const QVideoFrame &f, const Target &to)
{
    return CONVERT(f.bits(0), f.bytesPerLine(0), f.bits(U), f.bytesPerLine(U), f.bits(V),
        f.bytesPerLine(V), to.bits, to.stride, to.matrix, f.width(), f.height());
}

template <decltype(&libyuv::NV12ToARGBMatrix) CONVERT>
int fromTwoPlanes(const QVideoFrame &f, const Target &to)
{
    return CONVERT(f.bits(0), f.bytesPerLine(0), f.bits(1), f.bytesPerLine(1), to.bits, to.stride,
        to.matrix, f.width(), f.height());
}

// Null for a layout left to Qt.
Conversion conversionFor(QVideoFrameFormat::PixelFormat format)
{
    switch (format) {
    case QVideoFrameFormat::Format_YUYV:
        return [](const QVideoFrame &f, const Target &to) {
            return fromPacked422(f, to, libyuv::YUY2ToI422);
        };
    case QVideoFrameFormat::Format_UYVY:
        return [](const QVideoFrame &f, const Target &to) {
            return fromPacked422(f, to, libyuv::UYVYToI422);
        };
    case QVideoFrameFormat::Format_YUV420P:
        return fromPlanes<1, 2, libyuv::I420ToARGBMatrix>;
    case QVideoFrameFormat::Format_YV12:
        return fromPlanes<2, 1, libyuv::I420ToARGBMatrix>;
    case QVideoFrameFormat::Format_YUV422P:
        return fromPlanes<1, 2, libyuv::I422ToARGBMatrix>;
    case QVideoFrameFormat::Format_NV12:
        return fromTwoPlanes<libyuv::NV12ToARGBMatrix>;
    case QVideoFrameFormat::Format_NV21:
        return fromTwoPlanes<libyuv::NV21ToARGBMatrix>;
    default:
        return nullptr;
    }
}

} // namespace

QImage imageFromVideoFrame(const QVideoFrame &frame)
{
    const QVideoFrameFormat format = frame.surfaceFormat();
    const Conversion convert = conversionFor(format.pixelFormat());
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN || !convert
        || format.colorRange() != QVideoFrameFormat::ColorRange_Full)
        return frame.toImage();
    QVideoFrame mapped = frame;
    if (!mapped.map(QVideoFrame::ReadOnly))
        return {};
    QImage image(mapped.size(), QImage::Format_RGB32);
    const bool converted = !image.isNull()
        && convert(mapped,
               {image.bits(), int(image.bytesPerLine()), fullRangeMatrix(format.colorSpace())})
            == 0;
    mapped.unmap();
    return converted ? image : QImage();
}

} // namespace tirvel
