#pragma once

#include <QImage>
#include <QSize>

namespace tirvel {

// A room in which a bright lantern glides steadily from left to right, leaving at one side and
// coming back at the other, for demonstrations and for anyone without a camera. Two pictures taken
// 0.2 to 3 seconds apart differ by a strip of the lantern's height at least 9 pixels wide (at 160
// pixels across), so a test always finds movement.
QImage drawDemoScene(QSize size, qint64 milliseconds);

} // namespace tirvel
