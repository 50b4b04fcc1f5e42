#include "frame_files.h"

#include <QDir>

namespace tirvel {

QString framePath(const QString &directory, const QString &name)
{
    return directory + QDir::separator() + name;
}

} // namespace tirvel
