#include "picture_surface.h"

#include "picture_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tirvel {

namespace {

// Far beyond any picture box; keeps a wild size from allocating a huge layer.
constexpr int MAX_INTERIOR_PIXELS = 16384;

} // namespace

PictureSurface::PictureSurface(Border border, ColourValue background, int twipsPerScaleUnit)
    : m_border(border)
    , m_background(background)
    , m_twipsPerScaleUnit(twipsPerScaleUnit)
{
    repaint();
}

void PictureSurface::load(const QString &path)
{
    // Decoded from memory, so the picture is the one snapshot the read accepted.
    m_picture = decodePicture(readPictureFile(path), path);
    repaint();
}

void PictureSurface::setOuterWidth(double twips)
{
    m_outerWidth = twips;
    repaint();
}

void PictureSurface::setOuterHeight(double twips)
{
    m_outerHeight = twips;
    repaint();
}

double PictureSurface::scaleWidth() const noexcept
{
    return double(interiorWidth()) * TWIPS_PER_PIXEL / m_twipsPerScaleUnit;
}

double PictureSurface::scaleHeight() const noexcept
{
    return double(interiorHeight()) * TWIPS_PER_PIXEL / m_twipsPerScaleUnit;
}

int PictureSurface::borderPixels() const noexcept
{
    return m_border == Border::Sunken3D ? 2 : 1;
}

int PictureSurface::interiorPixels(double outerTwips) const noexcept
{
    if (!(outerTwips > 0)) // NaN too
        return 0;
    const double outerPixels
        = std::min(std::round(outerTwips / TWIPS_PER_PIXEL), double(MAX_INTERIOR_PIXELS));
    return std::max(0, int(outerPixels) - 2 * borderPixels());
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
    QImage layer(interiorPixels(m_outerWidth), interiorPixels(m_outerHeight), QImage::Format_RGB32);
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
