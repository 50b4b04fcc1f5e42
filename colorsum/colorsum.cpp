#include "colorsum.h"

namespace {
constexpr std::uint32_t INVALID_COLOUR = 0xFFFFFFFFu;
}

extern "C" std::int32_t ColSum(std::uint32_t colour)
{
    if (colour == INVALID_COLOUR)
        return -1;
    const auto red = static_cast<std::int32_t>(colour & 0xFFu);
    const auto green = static_cast<std::int32_t>((colour >> 8) & 0xFFu);
    const auto blue = static_cast<std::int32_t>((colour >> 16) & 0xFFu);
    return red + green + blue;
}
