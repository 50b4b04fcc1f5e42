#pragma once

#include <QImage>
#include <QVideoFrame>

namespace tirvel {

// The frame as a picture with the levels the camera meant. Qt 6.4 converts on the GPU when it
// can, honouring the frame's colour range, and otherwise reads every YUV frame as video range,
// so a full-range frame (a webcam's, or one decoded from JPEG) came out with its blacks and
// whites clipped. Full-range YUV frames are therefore converted here, the same on every
// machine; the rest are left to Qt.
QImage imageFromVideoFrame(const QVideoFrame &frame);

} // namespace tirvel
