#include "demo_scene.h"

#include <QLinearGradient>
#include <QPainter>

namespace tirvel {

namespace {

// The scene is laid out on a 160 x 120 grid and scaled to the size asked for.
constexpr QSizeF GRID {160, 120};
constexpr qreal LANTERN_SPEED = 45; // grid units a second: once across in about 3.6 s
constexpr QRectF LANTERN {0, 22, 36, 86};

void drawRoom(QPainter &painter)
{
    QLinearGradient wall(0, 0, 0, 84);
    wall.setColorAt(0, QColor(158, 148, 132));
    wall.setColorAt(1, QColor(132, 122, 108));
    painter.fillRect(QRectF(0, 0, GRID.width(), 84), wall);
    painter.fillRect(QRectF(0, 84, GRID.width(), 36), QColor(104, 78, 54));
    painter.setPen(QColor(84, 62, 42));
    for (qreal y = 90; y < GRID.height(); y += 8)
        painter.drawLine(QPointF(0, y), QPointF(GRID.width(), y));
    painter.fillRect(QRectF(0, 82, GRID.width(), 3), QColor(90, 84, 76));

    // A window with its frame, and a picture on the wall.
    painter.fillRect(QRectF(102, 12, 40, 38), QColor(96, 88, 80));
    painter.fillRect(QRectF(105, 15, 34, 32), QColor(150, 180, 200));
    painter.fillRect(QRectF(121, 15, 2, 32), QColor(96, 88, 80));
    painter.fillRect(QRectF(18, 20, 30, 22), QColor(70, 60, 52));
    painter.fillRect(QRectF(21, 23, 24, 16), QColor(60, 100, 80));
    // A low cupboard.
    painter.fillRect(QRectF(60, 64, 34, 24), QColor(88, 64, 46));
    painter.fillRect(QRectF(62, 67, 14, 18), QColor(100, 74, 54));
    painter.fillRect(QRectF(78, 67, 14, 18), QColor(100, 74, 54));
}

void drawLantern(QPainter &painter, qreal left)
{
    const QRectF body = LANTERN.translated(left, 0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 248, 220));
    painter.drawRoundedRect(body, 6, 6);
    painter.setBrush(QColor(255, 255, 245));
    painter.drawRoundedRect(body.adjusted(8, 10, -8, -10), 4, 4);
}

} // namespace

QImage drawDemoScene(QSize size, qint64 milliseconds)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size.width() / GRID.width(), size.height() / GRID.height());
    drawRoom(painter);

    const qreal travelled = LANTERN_SPEED * qreal(milliseconds % 1'000'000'000) / 1000;
    const qreal left = travelled - GRID.width() * qreal(qint64(travelled / GRID.width()));
    // Drawn twice, so that it is whole while it crosses the edge.
    drawLantern(painter, left);
    drawLantern(painter, left - GRID.width());
    return image;
}

} // namespace tirvel
