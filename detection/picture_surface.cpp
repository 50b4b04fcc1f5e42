#include "picture_surface.h"

#include "bmp_check.h"
#include "tirvel_error.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tirvel {

namespace {

// Far beyond any picture box; keeps a wild size from allocating a huge layer.
constexpr int MAX_INTERIOR_PIXELS = 16384;
// The largest file a picture of MAX_PICTURE_PIXELS can take, with room for its headers.
constexpr qint64 MAX_FILE_BYTES = MAX_PICTURE_PIXELS * 4 + 64 * 1024;

QString quoted(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QByteArray readWholeFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw TirvelError(
            ErrorNumber::FileNotFound, QStringLiteral("File not found: %1").arg(quoted(path)));
    if (info.isDir())
        throw TirvelError(ErrorNumber::PathAccessError,
            QStringLiteral("Path/File access error: %1 is a directory").arg(quoted(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TirvelError(ErrorNumber::PathAccessError,
            QStringLiteral("Path/File access error: %1 cannot be read (%2)")
                .arg(quoted(path), file.errorString()));
    if (file.size() > MAX_FILE_BYTES)
        throw TirvelError(ErrorNumber::InvalidPicture,
            QStringLiteral("Invalid picture: %1 is too large").arg(quoted(path)));
    return file.readAll();
}

[[noreturn]] void throwInvalid(const QString &path, const QString &why)
{
    throw TirvelError(ErrorNumber::InvalidPicture,
        QStringLiteral("Invalid picture: %1 (%2)").arg(quoted(path), why));
}

QImage decode(const QString &path, const QByteArray &bytes)
{
    if (bytes.startsWith("BM")) {
        if (const auto fault = findBmpFault(bytes))
            throwInvalid(path, *fault);
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > MAX_PICTURE_PIXELS)
        throwInvalid(path,
            QStringLiteral("the picture claims %1 x %2 pixels")
                .arg(size.width())
                .arg(size.height()));
    QImage image = reader.read();
    if (image.isNull())
        throwInvalid(path, reader.errorString());
    return image.convertToFormat(QImage::Format_RGB32);
}

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
    // Read once and decode from memory, so a file being rewritten is judged as one snapshot.
    const QByteArray bytes = readWholeFile(path);
    m_picture = decode(path, bytes);
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
