#include "picture_surface.h"

#include "picture_file.h"

#include <algorithm>
#include <cstring>

namespace tirvel {

namespace {

// Far beyond any picture box; keeps a wild size from allocating a huge layer.
constexpr int MAX_INTERIOR_PIXELS = 16384;

} // namespace

PictureSurface::PictureSurface(ColourValue background)
    : m_background(background)
{
    repaint();
}

void PictureSurface::load(const QString &path)
{
    setPicture(loadPicture(path));
}

void PictureSurface::setPicture(const QImage &picture)
{
    m_picture = picture.convertToFormat(QImage::Format_RGB32);
    repaint();
}

void PictureSurface::setInteriorSize(QSize interior)
{
    m_interior = interior;
    repaint();
}

QImage PictureSurface::pixelLayer() const
{
    m_layerHandedOut = true;
    return m_layer;
}

void PictureSurface::detachLayer()
{
    m_pixels = m_layer.isNull() ? nullptr : reinterpret_cast<std::uint32_t *>(m_layer.bits());
    m_layerHandedOut = false;
}

void PictureSurface::repaint()
{
    const auto pixels = [](int length) { return std::clamp(length, 0, MAX_INTERIOR_PIXELS); };
    QImage layer(pixels(m_interior.width()), pixels(m_interior.height()), QImage::Format_RGB32);
    layer.fill(rgb32FromColour(m_background));
    const int width = std::min(layer.width(), m_picture.width());
    const int height = std::min(layer.height(), m_picture.height());
    for (int y = 0; y < height; ++y)
        std::memcpy(layer.scanLine(y), m_picture.constScanLine(y), size_t(width) * 4);
    m_layer = std::move(layer);
    detachLayer();
    m_stride = m_layer.bytesPerLine() / 4;
    m_width = m_layer.width();
    m_height = m_layer.height();
}

} // namespace tirvel
