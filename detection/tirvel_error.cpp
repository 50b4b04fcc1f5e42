#include "tirvel_error.h"

namespace tirvel {

TirvelError::TirvelError(ErrorNumber number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{
}

} // namespace tirvel
