#pragma once

#include <cstdint>

#if defined(_WIN32)
#if defined(COLORSUM_BUILDING)
#define COLORSUM_EXPORT __declspec(dllexport)
#else
#define COLORSUM_EXPORT __declspec(dllimport)
#endif
#else
#define COLORSUM_EXPORT __attribute__((visibility("default")))
#endif

// The colour measure the change scan compares: red + green + blue of a 0x00BBGGRR colour, 0 to
// 765. The invalid colour 0xFFFFFFFF, read outside a picture, scores -1, below every real colour,
// so that a point past the edge of the timed frame never counts as a change.
// NOLINTNEXTLINE(readability-identifier-naming): the name the program binds by
extern "C" COLORSUM_EXPORT std::int32_t ColSum(std::uint32_t colour);
