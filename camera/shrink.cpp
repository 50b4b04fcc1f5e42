#include "shrink.h"

namespace tirvel {

QImage shrinkByAveraging(const QImage &picture, QSize size)
{
    // Qt's smooth scaling of an image averages the area each pixel covers when it shrinks; a
    // painter's smooth transform only interpolates between the nearest four.
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace tirvel
