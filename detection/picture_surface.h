#pragma once

#include "colour_value.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>

namespace tirvel {

// What one picture box shows inside its border: a background, a picture drawn at its natural size
// from the top-left, and single pixels written over them. The pixel layer is the only copy of the
// drawing, so a write lasts until the next load or change of size repaints the layer from
// background and picture. Pixel access is kept inline and cheap because the change scan calls it
// for every sample point.
class PictureSurface
{
public:
    // Empty until given a size; a point the picture does not cover reads as the background.
    explicit PictureSurface(ColourValue background);

    // Reads a bitmap file, makes it the picture and repaints the layer. Throws TirvelError and
    // leaves picture and pixels as they were when the file is missing, unreadable or not a whole
    // picture.
    void load(const QString &path);
    // Makes the picture, already decoded to 32-bit RGB, the surface's own and repaints the layer.
    void setPicture(const QImage &picture);

    ColourValue readPixel(int x, int y) const noexcept
    {
        if (!contains(x, y))
            return INVALID_COLOUR;
        return colourFromRgb32(m_pixels[static_cast<qsizetype>(y) * m_stride + x]);
    }

    void writePixel(int x, int y, ColourValue colour) noexcept
    {
        if (!contains(x, y))
            return;
        if (m_layerHandedOut)
            detachLayer();
        m_pixels[static_cast<qsizetype>(y) * m_stride + x] = rgb32FromColour(colour);
    }

    void setInteriorSize(QSize interior);
    QSize interiorSize() const noexcept { return {m_width, m_height}; }

    ColourValue background() const noexcept { return m_background; }
    // What the box shows, interior only, for drawing on the screen. The copy is cheap and does
    // not change with later writes.
    QImage pixelLayer() const;

private:
    bool contains(int x, int y) const noexcept
    {
        return static_cast<unsigned>(x) < static_cast<unsigned>(m_width)
            && static_cast<unsigned>(y) < static_cast<unsigned>(m_height);
    }
    void repaint();
    void detachLayer();

    ColourValue m_background;
    QSize m_interior {0, 0};
    QImage m_picture;
    QImage m_layer;
    // The layer's geometry, kept beside it because QImage's own accessors are not inline.
    std::uint32_t *m_pixels = nullptr;
    qsizetype m_stride = 0; // in pixels
    int m_width = 0;
    int m_height = 0;
    // Set when a copy of the layer may share its pixels, so the next write copies them first.
    mutable bool m_layerHandedOut = false;
};

} // namespace tirvel
