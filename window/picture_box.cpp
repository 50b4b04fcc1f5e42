#include "picture_box.h"

#include <QPainter>
#include <QResizeEvent>
#include <qdrawutil.h>

#include <cmath>

namespace tirvel {

namespace {

int pixelsFromTwips(double twips)
{
    return twips > 0 ? int(std::lround(twips / TWIPS_PER_PIXEL)) : 0;
}

} // namespace

PictureBox::PictureBox(Border border, ColourValue background, QWidget *parent)
    : QWidget(parent)
    , m_surface(border, background)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void PictureBox::setOuterWidth(double twips)
{
    m_surface.setOuterWidth(twips);
    resize(pixelsFromTwips(twips), height());
    update();
}

void PictureBox::setOuterHeight(double twips)
{
    m_surface.setOuterHeight(twips);
    resize(width(), pixelsFromTwips(twips));
    update();
}

void PictureBox::resizeEvent(QResizeEvent *event)
{
    // A resize from outside (a layout, a test) must reach the surface too; one that came from the
    // surface already matches and leaves its pixels alone.
    if (event->size().width() != pixelsFromTwips(m_surface.outerWidth()))
        m_surface.setOuterWidth(double(event->size().width()) * TWIPS_PER_PIXEL);
    if (event->size().height() != pixelsFromTwips(m_surface.outerHeight()))
        m_surface.setOuterHeight(double(event->size().height()) * TWIPS_PER_PIXEL);
    QWidget::resizeEvent(event);
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect outer = rect();
    if (m_surface.border() == Border::Sunken3D) {
        qDrawWinPanel(&painter, outer, palette(), true);
    } else {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(outer.adjusted(0, 0, -1, -1));
    }
    const int inset = m_surface.borderPixels();
    const QRect interior = outer.adjusted(inset, inset, -inset, -inset);
    painter.fillRect(interior, QColor::fromRgb(rgb32FromColour(m_surface.background())));
    painter.drawImage(interior.topLeft(), m_surface.pixelLayer());
}

} // namespace tirvel
