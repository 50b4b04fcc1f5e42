#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tirvel {

// Reads a picture file whole, so that it is decoded as one snapshot even while another program
// rewrites it. Throws TirvelError: file not found, path/file access error, or invalid picture
// when the file is larger than any picture could be.
QByteArray readPictureFile(const QString &path);

// Decodes a whole file's bytes with Qt's readers into a 32-bit RGB picture. Windows bitmaps pass
// a header check first, so that a file that does not describe every one of its pixels is an
// error. Throws TirvelError (invalid picture) naming the path.
QImage decodePicture(const QByteArray &bytes, const QString &path);

} // namespace tirvel
