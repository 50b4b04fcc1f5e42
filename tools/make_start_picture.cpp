// Draws the timed frame's start picture: a 160 x 120, 8-bit bitmap with a 256-entry palette in
// which four colours occur. Run it once and commit its output to detection/resources/start.bmp:
//   make_start_picture detection/resources/start.bmp

#include <QImage>
#include <QList>
#include <QPoint>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

enum Colour : unsigned char { Ground, Disc, Line, Block };

constexpr int WIDTH = 160;
constexpr int HEIGHT = 120;

// Where the line may wander, inclusive.
constexpr QPoint LINE_TOP_LEFT(11, 14);
constexpr QPoint LINE_BOTTOM_RIGHT(155, 112);

void plot(QImage &image, int x, int y)
{
    if (x >= LINE_TOP_LEFT.x() && x <= LINE_BOTTOM_RIGHT.x() && y >= LINE_TOP_LEFT.y()
        && y <= LINE_BOTTOM_RIGHT.y())
        image.setPixel(x, y, Line);
}

// A pen stroke: straight steps between points, with a second pixel here and there where a
// hand would press harder.
void stroke(QImage &image, QPoint from, QPoint to, unsigned &seed)
{
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    int error = dx + dy;
    for (QPoint p = from;;) {
        plot(image, p.x(), p.y());
        seed = seed * 1103515245u + 12345u;
        if ((seed >> 16) % 5 == 0)
            plot(image, p.x() + 1, p.y());
        if (p == to)
            break;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            p.rx() += sx;
        }
        if (twice <= dx) {
            error += dx;
            p.ry() += sy;
        }
    }
}

QImage draw()
{
    QImage image(WIDTH, HEIGHT, QImage::Format_Indexed8);
    QList<QRgb> palette(256, qRgb(0, 0, 0));
    palette[Ground] = qRgb(0x66, 0x00, 0x99);
    palette[Disc] = qRgb(0xFF, 0xCC, 0xFF);
    palette[Line] = qRgb(0xFF, 0x00, 0x66);
    palette[Block] = qRgb(0xFF, 0xCC, 0x00);
    // The unused entries make a grey ramp, as a painting program's palette would.
    for (int i = 4; i < 256; ++i)
        palette[i] = qRgb(i, i, i);
    image.setColorTable(palette);
    image.fill(Ground);

    // The line's bends; it reaches every side of its rectangle and keeps clear of the disc and
    // the block, which are drawn over it.
    const QList<QPoint> bends {{11, 74}, {18, 60}, {27, 47}, {44, 38}, {58, 14}, {71, 22}, {80, 36},
        {77, 48}, {66, 60}, {57, 80}, {63, 97}, {84, 106}, {108, 112}, {129, 101}, {121, 86},
        {126, 70}, {141, 57}, {155, 44}, {150, 30}, {137, 24}};
    unsigned seed = 1997;
    for (qsizetype i = 1; i < bends.size(); ++i) {
        // Break each bend into short pieces that drift a pixel to either side.
        const QPoint from = bends[i - 1];
        const QPoint to = bends[i];
        const int pieces = std::max(1, int(std::hypot(to.x() - from.x(), to.y() - from.y()) / 6));
        QPoint previous = from;
        for (int piece = 1; piece <= pieces; ++piece) {
            QPoint next = from + (to - from) * piece / pieces;
            if (piece < pieces) {
                seed = seed * 1103515245u + 12345u;
                next += QPoint(int((seed >> 16) % 3) - 1, int((seed >> 20) % 3) - 1);
            }
            stroke(image, previous, next, seed);
            previous = next;
        }
    }

    // The disc fills the square from (14, 6) to (38, 30).
    for (int y = 6; y <= 30; ++y) {
        for (int x = 14; x <= 38; ++x) {
            if (std::hypot(x - 26, y - 18) <= 12.5)
                image.setPixel(x, y, Disc);
        }
    }
    for (int y = 51; y <= 73; ++y) {
        for (int x = 87; x <= 105; ++x)
            image.setPixel(x, y, Block);
    }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    if (!draw().save(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
