#include <cstdint>

// Has the right file name once copied, but not the function the program asks for.
// NOLINTNEXTLINE(readability-identifier-naming): the name is the library's contract.
extern "C" __attribute__((visibility("default"))) std::int32_t ColourSum(std::uint32_t colour)
{
    return static_cast<std::int32_t>(colour & 0xFF);
}
