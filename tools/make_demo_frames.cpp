// Draws a pair of demo frames for trying the program without a frame writer: a room in which a
// bright ball lies on the floor in the timed frame (5.bmp) and has rolled away to the right in
// the test frame (6.bmp). A test marks where the ball stood and reports movement.
//   make_demo_frames DIRECTORY

#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int WIDTH = 160;
constexpr int HEIGHT = 120;

QImage room(QPoint ball)
{
    QImage image(WIDTH, HEIGHT, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, WIDTH, 78, QColor(70, 84, 104)); // wall
    painter.fillRect(0, 78, WIDTH, HEIGHT - 78, QColor(96, 72, 52)); // floor
    for (int x = 0; x < WIDTH; x += 16)
        painter.fillRect(x, 78, 1, HEIGHT - 78, QColor(80, 60, 44)); // boards
    painter.fillRect(12, 18, 38, 28, QColor(150, 170, 190)); // window
    painter.fillRect(30, 18, 2, 28, QColor(70, 84, 104));
    painter.fillRect(104, 40, 40, 46, QColor(60, 44, 36)); // cupboard
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 236, 120));
    painter.drawEllipse(ball, 14, 14);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    const bool saved = room({62, 90}).save(directory.filePath(QStringLiteral("5.bmp")), "BMP")
        && room({128, 100}).save(directory.filePath(QStringLiteral("6.bmp")), "BMP");
    if (!saved) {
        std::fprintf(stderr, "%s: cannot write the frames in %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
