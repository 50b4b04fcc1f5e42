#include "picture_box.h"

#include <QPainter>
#include <QResizeEvent>
#include <qdrawutil.h>

namespace tirvel {

PictureBox::PictureBox(Frame frame, ColourValue background, QWidget *parent)
    : QWidget(parent)
    , m_frame(frame)
    , m_surface(frame == Frame::Sunken ? 2 : 1, background)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void PictureBox::setOuterSize(QSize outer)
{
    m_surface.setOuterSize(outer);
    resize(outer);
    update();
}

void PictureBox::resizeEvent(QResizeEvent *event)
{
    // A resize from outside (a layout, a test) must reach the surface too; one that came from
    // setOuterSize() already matches and leaves the marks alone.
    if (event->size() != m_surface.outerSize())
        m_surface.setOuterSize(event->size());
    QWidget::resizeEvent(event);
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
    const int inset = m_surface.borderWidth();
    const QRect interior = outer.adjusted(inset, inset, -inset, -inset);
    painter.fillRect(interior, QColor::fromRgb(rgb32FromColour(m_surface.background())));
    painter.drawImage(interior.topLeft(), m_surface.pixelLayer());
}

} // namespace tirvel
