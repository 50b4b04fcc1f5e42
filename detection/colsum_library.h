#pragma once

#include "colour_value.h"

#include <QLibrary>
#include <QString>

#include <cstdint>

namespace tirvel {

// The colour measure ColSum, bound from its own shared library on first use and kept for the
// run. The program starts and loads pictures without the library; a missing library or function
// shows only when a measure is asked for, and the next call tries again.
class ColSumLibrary
{
public:
    // The library's file name on this platform (ColorSum.dll, libColorSum.so, ...).
    static QString fileName();

    // Binds exactly this file, never one found through the library search path.
    explicit ColSumLibrary(const QString &libraryPath);

    std::int32_t operator()(ColourValue colour)
    {
        if (m_colSum == nullptr)
            bind();
        return m_colSum(colour);
    }

private:
    using ColSumFunction = std::int32_t (*)(std::uint32_t);

    void bind();

    QString m_path;
    QLibrary m_library;
    ColSumFunction m_colSum = nullptr;
};

} // namespace tirvel
