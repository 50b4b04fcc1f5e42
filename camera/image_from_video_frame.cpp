#include "image_from_video_frame.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>

namespace tirvel {

namespace {

// The mapped frame's planes as OpenCV sees them: the luma, which of its channels holds Y, and
// Cb and Cr side by side at the chroma's own, smaller size (in the scratch buffer given when
// they must be gathered).
struct Planes
{
    cv::Mat luma;
    int lumaChannel = 0;
    cv::Mat chroma;
};

using Layout = Planes (*)(QVideoFrame &frame, cv::Mat &scratch);

cv::Mat plane(QVideoFrame &frame, int index, cv::Size size, int type)
{
    return {size, type, frame.bits(index), std::size_t(frame.bytesPerLine(index))};
}

cv::Size chromaSize(const QVideoFrame &frame, bool halfHeight)
{
    return {(frame.width() + 1) / 2, halfHeight ? (frame.height() + 1) / 2 : frame.height()};
}

// Two pixels in four bytes; OFFSET is where the first luma byte sits.
template <int OFFSET> Planes fromPacked422(QVideoFrame &frame, cv::Mat &scratch)
{
    const cv::Mat pairs = plane(frame, 0, chromaSize(frame, false), CV_8UC4);
    scratch.create(pairs.size(), CV_8UC2);
    const std::array<int, 4> cbCr {1 - OFFSET, 0, 3 - OFFSET, 1};
    cv::mixChannels(&pairs, 1, &scratch, 1, cbCr.data(), 2);
    return {plane(frame, 0, {frame.width(), frame.height()}, CV_8UC2), OFFSET, scratch};
}

// Three planes, Y first, and which of the others holds Cb.
template <int CB, int CR, bool HALF_HEIGHT> Planes fromPlanes(QVideoFrame &frame, cv::Mat &scratch)
{
    const cv::Size size = chromaSize(frame, HALF_HEIGHT);
    cv::merge(
        std::array {plane(frame, CB, size, CV_8UC1), plane(frame, CR, size, CV_8UC1)}, scratch);
    return {plane(frame, 0, {frame.width(), frame.height()}, CV_8UC1), 0, scratch};
}

template <bool CB_FIRST> Planes fromTwoPlanes(QVideoFrame &frame, cv::Mat &scratch)
{
    const cv::Mat chroma = plane(frame, 1, chromaSize(frame, true), CV_8UC2);
    if (!CB_FIRST) {
        const std::array<int, 4> swap {0, 1, 1, 0};
        scratch.create(chroma.size(), CV_8UC2);
        cv::mixChannels(&chroma, 1, &scratch, 1, swap.data(), 2);
    }
    return {
        plane(frame, 0, {frame.width(), frame.height()}, CV_8UC1), 0, CB_FIRST ? chroma : scratch};
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
        thread_local cv::Mat scratch;
        thread_local cv::Mat chroma;
        thread_local cv::Mat ycc;
        thread_local cv::Mat bgr;
        const Planes planes = layout(mapped, scratch);
        cv::resize(planes.chroma, chroma, planes.luma.size(), 0, 0, cv::INTER_LINEAR);
        ycc.create(planes.luma.size(), CV_8UC3);
        const std::array from {planes.luma, chroma};
        const int cb = planes.luma.channels();
        const std::array<int, 6> toYcc {planes.lumaChannel, 0, cb, 1, cb + 1, 2};
        cv::mixChannels(from.data(), from.size(), &ycc, 1, toYcc.data(), 3);
        // Three channels to three is OpenCV's fast path; the fourth is added after.
        cv::transform(ycc, bgr, fullRangeMatrix(format.colorSpace()));
        cv::Mat bgrx(bgr.size(), CV_8UC4, image.bits(), std::size_t(image.bytesPerLine()));
        cv::cvtColor(bgr, bgrx, cv::COLOR_BGR2BGRA);
    }
    mapped.unmap();
    return image;
}

} // namespace tirvel
