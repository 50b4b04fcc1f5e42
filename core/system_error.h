#pragma once

#include <QString>

#include <cerrno>

namespace tirvel {

// The system's own words for an error number, as a person reads them in a report.
QString systemErrorText(int error = errno);

} // namespace tirvel
