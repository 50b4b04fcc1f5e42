#include "video_frame_from_image.h"

#include <cstring>

namespace tirvel {

QVideoFrame videoFrameFromImage(const QImage &picture)
{
    // 32-bit ARGB in memory is BGRA.
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    QVideoFrame frame(QVideoFrameFormat(argb.size(), QVideoFrameFormat::Format_BGRA8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    const qsizetype rowBytes = qsizetype(argb.width()) * 4;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(
            frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0), argb.constScanLine(y), rowBytes);
    frame.unmap();
    return frame;
}

} // namespace tirvel
