#include "clock.h"

#include <QElapsedTimer>

#include <memory>

namespace tirvel {

Clock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

} // namespace tirvel
