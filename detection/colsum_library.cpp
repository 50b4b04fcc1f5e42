#include "colsum_library.h"

#include "tirvel_error.h"

#include <QFileInfo>

namespace tirvel {

QString ColSumLibrary::fileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("ColorSum.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libColorSum.dylib");
#else
    return QStringLiteral("libColorSum.so");
#endif
}

ColSumLibrary::ColSumLibrary(const QString &libraryPath)
    : m_path(libraryPath)
{
}

void ColSumLibrary::bind()
{
    const QFileInfo info(m_path);
    // A relative name would let the loader search for it elsewhere.
    if (!info.isAbsolute() || !info.isFile())
        throw TirvelError(
            ErrorNumber::FileNotFound, QStringLiteral("File not found: '%1'").arg(m_path));
    m_library.setFileName(info.absoluteFilePath());
    if (!m_library.load())
        throw TirvelError(ErrorNumber::DllLoadFailed,
            QStringLiteral("Error in loading DLL '%1': %2").arg(m_path, m_library.errorString()));
    const auto colSum = reinterpret_cast<ColSumFunction>(m_library.resolve("ColSum"));
    if (colSum == nullptr)
        throw TirvelError(ErrorNumber::DllEntryPointMissing,
            QStringLiteral("Can't find DLL entry point ColSum in '%1'").arg(m_path));
    m_colSum = colSum;
}

} // namespace tirvel
