#include "image_from_video_frame.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>

namespace tirvel {

namespace {

// The mapped frame's planes as OpenCV sees them: Y at full size, Cb and Cr at the chroma's own.
// What the frame does not hold as planes is gathered into the scratch buffers, which the
// caller keeps from frame to frame.
struct Planes
{
    cv::Mat y;
    cv::Mat cb;
    cv::Mat cr;
};

struct Scratch
{
    std::array<cv::Mat, 4> packedBytes;
    cv::Mat packedY;
    std::array<cv::Mat, 2> chroma;
    // Y, Cb, Cr at full size.
    std::array<cv::Mat, 3> full;
    cv::Mat ycc;
    cv::Mat bgr;
};

using Layout = Planes (*)(QVideoFrame &frame, Scratch &scratch);

cv::Mat plane(QVideoFrame &frame, int index, cv::Size size, int type)
{
    return {size, type, frame.bits(index), std::size_t(frame.bytesPerLine(index))};
}

cv::Size lumaSize(const QVideoFrame &frame)
{
    return {frame.width(), frame.height()};
}

cv::Size chromaSize(const QVideoFrame &frame, bool halfHeight)
{
    return {(frame.width() + 1) / 2, halfHeight ? (frame.height() + 1) / 2 : frame.height()};
}

// Two pixels in four bytes; OFFSET is where the first luma byte sits.
template <int OFFSET> Planes fromPacked422(QVideoFrame &frame, Scratch &scratch)
{
    const cv::Mat pairs = plane(frame, 0, chromaSize(frame, false), CV_8UC4);
    std::array<cv::Mat, 4> &bytes = scratch.packedBytes;
    cv::split(pairs, bytes);
    cv::merge(std::array {bytes.at(OFFSET), bytes.at(OFFSET + 2)}, scratch.packedY);
    // An odd width still ends in a whole pair.
    const cv::Mat y = scratch.packedY.reshape(1, pairs.rows).colRange(0, frame.width());
    return {y, bytes.at(1 - OFFSET), bytes.at(3 - OFFSET)};
}

// Three planes, Y first, and which of the others holds Cb.
template <int CB, int CR, bool HALF_HEIGHT>
Planes fromPlanes(QVideoFrame &frame, Scratch & /*unused*/)
{
    const cv::Size size = chromaSize(frame, HALF_HEIGHT);
    return {plane(frame, 0, lumaSize(frame), CV_8UC1), plane(frame, CB, size, CV_8UC1),
        plane(frame, CR, size, CV_8UC1)};
}

// Y, then Cb and Cr interleaved in one plane.
template <bool CB_FIRST> Planes fromTwoPlanes(QVideoFrame &frame, Scratch &scratch)
{
    std::array<cv::Mat, 2> &chroma = scratch.chroma;
    cv::split(plane(frame, 1, chromaSize(frame, true), CV_8UC2), chroma);
    return {plane(frame, 0, lumaSize(frame), CV_8UC1), chroma.at(CB_FIRST ? 0 : 1),
        chroma.at(CB_FIRST ? 1 : 0)};
}

// Null for a layout left to Qt.
Layout layoutOf(QVideoFrameFormat::PixelFormat format)
{
    switch (format) {
    case QVideoFrameFormat::Format_YUYV:
        return fromPacked422<0>;
    case QVideoFrameFormat::Format_UYVY:
        return fromPacked422<1>;
    case QVideoFrameFormat::Format_YUV420P:
        return fromPlanes<1, 2, true>;
    case QVideoFrameFormat::Format_YV12:
        return fromPlanes<2, 1, true>;
    case QVideoFrameFormat::Format_YUV422P:
        return fromPlanes<1, 2, false>;
    case QVideoFrameFormat::Format_NV12:
        return fromTwoPlanes<true>;
    case QVideoFrameFormat::Format_NV21:
        return fromTwoPlanes<false>;
    default:
        return nullptr;
    }
}

// Full-range Y, Cb, Cr to B, G, R, with the chroma's offset of 128 in the last column. KR and KB
// are the weights of red and blue in the colour space's luma.
cv::Matx34f fullRangeMatrix(float kr, float kb)
{
    const float kg = 1 - kr - kb;
    const float bFromCb = 2 * (1 - kb);
    const float gFromCb = -bFromCb * kb / kg;
    const float rFromCr = 2 * (1 - kr);
    const float gFromCr = -rFromCr * kr / kg;
    constexpr float MID = 128;
    return {1, bFromCb, 0, -MID * bFromCb, //
        1, gFromCb, gFromCr, -MID * (gFromCb + gFromCr), //
        1, 0, rFromCr, -MID * rFromCr};
}

cv::Matx34f fullRangeMatrix(QVideoFrameFormat::ColorSpace space)
{
    switch (space) {
    case QVideoFrameFormat::ColorSpace_BT709:
        return fullRangeMatrix(0.2126F, 0.0722F);
    case QVideoFrameFormat::ColorSpace_BT2020:
        return fullRangeMatrix(0.2627F, 0.0593F);
    default:
        // JPEG's, and what a webcam means when it says nothing.
        return fullRangeMatrix(0.299F, 0.114F);
    }
}

} // namespace

QImage imageFromVideoFrame(const QVideoFrame &frame)
{
    const QVideoFrameFormat format = frame.surfaceFormat();
    const Layout layout = layoutOf(format.pixelFormat());
    // RGB32 is B, G, R, X in a little-endian memory.
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN || !layout
        || format.colorRange() != QVideoFrameFormat::ColorRange_Full)
        return frame.toImage();
    QVideoFrame mapped = frame;
    if (!mapped.map(QVideoFrame::ReadOnly))
        return {};
    QImage image(mapped.size(), QImage::Format_RGB32);
    if (!image.isNull()) {
        // Kept from frame to frame: fresh buffers cost more in page faults than the conversion.
        thread_local Scratch scratch;
        const Planes planes = layout(mapped, scratch);
        std::array<cv::Mat, 3> &full = scratch.full;
        full.at(0) = planes.y;
        cv::resize(planes.cb, full.at(1), planes.y.size(), 0, 0, cv::INTER_LINEAR);
        cv::resize(planes.cr, full.at(2), planes.y.size(), 0, 0, cv::INTER_LINEAR);
        cv::merge(full, scratch.ycc);
        // Three channels to three is OpenCV's fast path; the fourth is added after.
        cv::transform(scratch.ycc, scratch.bgr, fullRangeMatrix(format.colorSpace()));
        cv::Mat bgrx(scratch.bgr.size(), CV_8UC4, image.bits(), std::size_t(image.bytesPerLine()));
        cv::cvtColor(scratch.bgr, bgrx, cv::COLOR_BGR2BGRA);
        // The frame is unmapped below, and the scratch outlives it.
        full.at(0).release();
    }
    mapped.unmap();
    return image;
}

} // namespace tirvel
