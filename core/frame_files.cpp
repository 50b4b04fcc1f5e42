#include "frame_files.h"

#include <QDir>

namespace tirvel {

QString framePath(const QString &directory, const QString &name)
{
    return directory + QDir::separator() + name;
}

FramePaths framePaths(const QString &directory)
{
    return {framePath(directory, TIMED_FRAME_FILE), framePath(directory, TEST_FRAME_FILE)};
}

} // namespace tirvel
