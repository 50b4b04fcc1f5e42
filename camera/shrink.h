#pragma once

#include <QImage>
#include <QSize>

namespace tirvel {

// The picture made smaller by averaging: each pixel of the result is the mean of the pixels it
// covers, so a camera's noise falls with the scale (a 4 x 4 block averages to a quarter of it),
// where sampling between neighbours would keep most of it. size must be no larger than the
// picture's own.
QImage shrinkByAveraging(const QImage &picture, QSize size);

} // namespace tirvel
