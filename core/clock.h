#pragma once

#include <QtGlobal>

#include <functional>

namespace tirvel {

// Monotonic milliseconds. Whatever keeps a rhythm takes one, so tests can move time by hand.
using Clock = std::function<qint64()>;

// Milliseconds since the clock was made, never going back.
Clock steadyClock();

} // namespace tirvel
