#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tirvel {

// Checks that a Windows bitmap describes every one of its pixels, in a way Qt's reader decodes
// exactly, before that reader sees it. Qt's reader fills what is missing with zeros or stale
// memory and reports success, and a frame file caught half-written, or run-length codes that
// leave pixels unset, would then look like movement that never happened. For the same reason
// colour masks Qt gets wrong (wider than 8 bits, broken or overlapping) are refused. Returns what
// is wrong, or nothing when the file is whole; it does not decode.
std::optional<QString> findBmpFault(QByteArrayView file);

} // namespace tirvel
