#include "scenes.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <random>

namespace tirvel::testing {

namespace {

constexpr QSize SIZE {160, 120};
const QColor WALL(150, 130, 110);

double lightAt(const Scene &scene, double seconds, int x)
{
    const QString &light = scene.light;
    const bool after = seconds >= 3;
    if (light == "step up")
        return after ? 1.3 : 1.0;
    if (light == "step down")
        return after ? 0.7 : 1.0;
    if (light == "off")
        return after ? 0.2 : 1.0;
    if (light == "soft half") {
        // A lamp on the right: the right half up to 30 % brighter, rising softly.
        const double t = std::clamp((x - 40) / 80.0, 0.0, 1.0);
        return after ? 1 + 0.3 * t * t * (3 - 2 * t) : 1.0;
    }
    if (light == "fade")
        return 1 - 0.5 * std::min(seconds, 60.0) / 60;
    if (light == "hunting")
        return int(seconds / 2) % 2 == 0 ? 0.9 : 1.1;
    if (light == "flicker")
        return 1 + 0.05 * std::sin(seconds * 7.3);
    return 1.0;
}

void drawMover(QPainter &painter, const Scene &scene, double seconds)
{
    if (scene.mover.isEmpty() || seconds < scene.moverStart)
        return;
    const bool cat = scene.mover == "cat";
    const QSize size = cat ? QSize(8, 6) : QSize(20, 50);
    const double progress = (seconds - scene.moverStart) / scene.moverSeconds;
    if (progress > 1)
        return;
    const int x = int(-size.width() + progress * (SIZE.width() + size.width()));
    // A person stands against the wall alone.
    const int y = cat ? 104 : 28;
    QColor colour(40, 40, 50);
    if (scene.mover == "light person")
        colour = QColor(235, 230, 225);
    else if (scene.mover == "pale person")
        colour = QColor(180, 160, 140); // a little lighter than the wall
    else if (scene.mover == "same-sum person")
        colour = QColor(110, 150, 130); // the wall's colour sum, in another hue
    else if (cat)
        colour = QColor(200, 160, 110);
    painter.fillRect(QRect(QPoint(x, y), size), colour);
}

} // namespace

QImage sceneFrame(const Scene &scene, double seconds, int frame)
{
    QImage room(SIZE, QImage::Format_RGB32);
    QPainter painter(&room);
    painter.fillRect(0, 0, 160, 80, WALL);
    painter.fillRect(0, 80, 160, 40, QColor(100, 80, 60));
    painter.fillRect(20, 4, 30, 20, QColor(185, 190, 190));
    painter.fillRect(70, 6, 20, 14, QColor(60, 90, 140));
    painter.fillRect(115, 40, 30, 60, QColor(70, 55, 45));
    drawMover(painter, scene, seconds);
    painter.end();

    std::mt19937 random(std::uint32_t(frame) * 7919U + std::uint32_t(scene.noise * 100));
    std::normal_distribution<double> noise(0, scene.noise);
    for (int y = 0; y < SIZE.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(room.scanLine(y));
        for (int x = 0; x < SIZE.width(); ++x) {
            const double gain = lightAt(scene, seconds, x) * (scene.dim ? 0.35 : 1.0);
            const auto channel = [&](int value) {
                const double lit = value * gain + (scene.noise > 0 ? noise(random) : 0);
                return std::clamp(int(std::lround(lit)), 0, 255);
            };
            line[x]
                = qRgb(channel(qRed(line[x])), channel(qGreen(line[x])), channel(qBlue(line[x])));
        }
    }
    return room;
}

std::int32_t colourSum(std::uint32_t colour)
{
    if (colour == 0xFFFFFFFFu)
        return -1;
    return std::int32_t((colour & 0xFFu) + ((colour >> 8) & 0xFFu) + ((colour >> 16) & 0xFFu));
}

} // namespace tirvel::testing
