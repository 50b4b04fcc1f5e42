#pragma once

#include <QSize>
#include <QtGlobal>

namespace tirvel {

// The live view's size the window is designed around, and the frame size "160x120" asks for.
inline constexpr QSize DESIGN_SIZE {160, 120};
// One picture in this many milliseconds is what "5 bild/sek" asks for; 6.bmp is written no
// oftener, so at that rate every picture shown is written.
inline constexpr qint64 FIVE_A_SECOND_MS = 200;
// The camera name of the built-in moving scene.
inline constexpr char DEMO_SCENE_ID[] = "test-scene";

} // namespace tirvel
