#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace tirvel {

// Larger than any frame by far; a header that claims more is a broken or hostile file.
inline constexpr std::int64_t MAX_PICTURE_PIXELS = 64LL * 1024 * 1024;

// Checks that a Windows bitmap describes every byte of its pixels before Qt's reader sees it.
// Qt's reader fills what is missing with zeros or stale memory and reports success, and a frame
// file caught half-written would then look like movement that never happened. Returns what is
// wrong, or nothing when the file is whole; it does not decode.
std::optional<QString> findBmpFault(QByteArrayView file);

} // namespace tirvel
