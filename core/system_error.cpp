#include "system_error.h"

#include <cstring>

namespace tirvel {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace tirvel
