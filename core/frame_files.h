#pragma once

#include <QString>

namespace tirvel {

// The timed frame, read every second once watching has begun.
inline const QString TIMED_FRAME_FILE = QStringLiteral("5.bmp");
// The test frame, read at every test.
inline const QString TEST_FRAME_FILE = QStringLiteral("6.bmp");

// Where the two frames are read from.
struct FramePaths
{
    QString timed;
    QString test;
};

// The directory, the platform's separator and the name, never normalised: a directory that ends
// in a separator gives two in a row.
QString framePath(const QString &directory, const QString &name);
// Both frames in one directory.
FramePaths framePaths(const QString &directory);

} // namespace tirvel
