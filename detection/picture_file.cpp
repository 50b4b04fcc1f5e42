#include "picture_file.h"

#include "bmp_check.h"
#include "tirvel_error.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace tirvel {

namespace {

// The largest file a picture of MAX_PICTURE_PIXELS can take, with room for its headers.
constexpr qint64 MAX_FILE_BYTES = MAX_PICTURE_PIXELS * 4 + 64LL * 1024;

QString quoted(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

[[noreturn]] void throwInvalid(const QString &path, const QString &why)
{
    throw TirvelError(ErrorNumber::InvalidPicture,
        QStringLiteral("Invalid picture: %1 (%2)").arg(quoted(path), why));
}

} // namespace

QByteArray readPictureFile(const QString &path)
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
        throwInvalid(path, QStringLiteral("the file is too large for a picture"));
    return file.readAll();
}

QImage decodePicture(const QByteArray &bytes, const QString &path)
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

} // namespace tirvel
