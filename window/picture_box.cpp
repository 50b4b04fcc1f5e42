#include "picture_box.h"

#include <QPainter>
#include <qdrawutil.h>

#include <algorithm>

namespace tirvel {

PictureBox::PictureBox(Frame frame, QColor background, QWidget *parent)
    : QWidget(parent)
    , m_frame(frame)
    , m_background(background)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

QSize PictureBox::interiorSize() const
{
    const int border = 2 * borderWidth();
    return {std::max(0, width() - border), std::max(0, height() - border)};
}

void PictureBox::setPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect outer = rect();
    if (m_frame == Frame::Sunken) {
        qDrawWinPanel(&painter, outer, palette(), true);
    } else {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(outer.adjusted(0, 0, -1, -1));
    }
    const int inset = borderWidth();
    const QRect interior = outer.adjusted(inset, inset, -inset, -inset);
    painter.fillRect(interior, m_background);
    painter.setClipRect(interior);
    painter.drawImage(interior.topLeft(), m_picture);
}

} // namespace tirvel
