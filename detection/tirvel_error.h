#pragma once

#include <QString>

#include <stdexcept>

namespace tirvel {

// The numbers a user sees in an error report. They keep the values the platform has long used
// for the same faults, so a report reads the same wherever the program runs.
enum class ErrorNumber : int {
    OutOfMemory = 7,
    DllLoadFailed = 48,
    FileNotFound = 53,
    PathAccessError = 75,
    DllEntryPointMissing = 453,
    InvalidPicture = 481,
};

// A failure that stops a handler: a number and a description for the person at the screen.
class TirvelError : public std::runtime_error
{
public:
    TirvelError(ErrorNumber number, const QString &description);

    ErrorNumber number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }

private:
    ErrorNumber m_number;
    QString m_description;
};

} // namespace tirvel
