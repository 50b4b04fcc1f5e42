#pragma once

#include <cstdint>

namespace tirvel {

// A colour as the change scan and the colour measure see it: 0x00BBGGRR, red in the lowest byte.
using ColourValue = std::uint32_t;

// Read outside a picture's interior; never the colour of a shown pixel.
inline constexpr ColourValue INVALID_COLOUR = 0xFFFFFFFFu;

// Qt keeps opaque pixels as 0xFFRRGGBB; both directions swap the red and blue bytes.
constexpr ColourValue colourFromRgb32(std::uint32_t rgb32) noexcept
{
    return ((rgb32 & 0xFFu) << 16) | (rgb32 & 0xFF00u) | ((rgb32 >> 16) & 0xFFu);
}

constexpr std::uint32_t rgb32FromColour(ColourValue colour) noexcept
{
    return 0xFF000000u | ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

} // namespace tirvel
