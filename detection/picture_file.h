#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <cstdint>

namespace tirvel {

// A camera's largest frame, 4096 x 2160, with room to spare. Anything up to it decodes in a
// fraction of a second within Qt's own allocation limit; a picture that claims more is refused
// before it is decoded.
inline constexpr std::int64_t MAX_PICTURE_PIXELS = 4096LL * 2304;

// A file changed more recently than this may be in the middle of a rewrite: writers pause
// between chunks, and a read that falls inside one pause sees no change.
inline constexpr std::chrono::milliseconds PICTURE_QUIET_TIME {50};

// Why a picture of that many pixels is refused.
QString tooLargeText(std::int64_t width, std::int64_t height);

// Reads a picture file whole, so that it is decoded as one snapshot even while another program
// rewrites it. Only regular files are opened, so a pipe or a device never blocks the caller, and
// never more is read than any picture could take. A file written to within the last 50 ms, or
// during the read, is read again once it holds still; the caller waits up to 200 ms for that.
// Throws TirvelError: file not found, path/file access error (not a regular file, unreadable), or
// invalid picture (too large, still being written).
QByteArray readPictureFile(const QString &path);

// Decodes a whole file's bytes with Qt's readers into a 32-bit RGB picture. Windows bitmaps pass
// a header check first, so that a file that does not describe every one of its pixels is an
// error. Throws TirvelError (invalid picture) naming the path.
QImage decodePicture(const QByteArray &bytes, const QString &path);

// Reads and decodes a picture file, as above.
QImage loadPicture(const QString &path);

} // namespace tirvel
