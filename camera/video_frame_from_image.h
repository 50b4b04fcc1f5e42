#pragma once

#include <QImage>
#include <QVideoFrame>

namespace tirvel {

// A video frame holding a copy of the picture, for cameras that draw their own frames; Qt 6.4
// cannot wrap an image in a frame.
QVideoFrame videoFrameFromImage(const QImage &picture);

} // namespace tirvel
