#include <cstdint>

// Has the right file name once copied, but not the function the program asks for.
extern "C" __attribute__((visibility("default"))) std::int32_t ColourSum(std::uint32_t colour)
{
    return static_cast<std::int32_t>(colour & 0xFF);
}
