#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

namespace tirvel::testing {

// A rendered room at 160 x 120 as a camera would see it at a moment of a named scene: light that
// changes (steps, a soft change over half the room, a fade, exposure hunting, flicker), noise of a
// given deviation per channel, and movers crossing it (a dark, a light and a same-sum person of
// 20 x 50, a pale one a little lighter than the wall, a cat of 8 x 6). Each frame's noise is its
// own, the same for the same frame.
struct Scene
{
    QString light = QStringLiteral("steady");
    QString mover;
    // When the mover starts to cross, and how long it takes.
    double moverStart = 1;
    double moverSeconds = 3;
    double noise = 0;
    bool dim = false;
};

QImage sceneFrame(const Scene &scene, double seconds, int frame);

// The colour library's measure, for measuring scenes without it: the sum of the channels of
// 0x00BBGGRR, and -1 where there is no pixel.
std::int32_t colourSum(std::uint32_t colour);

} // namespace tirvel::testing
