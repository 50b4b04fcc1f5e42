#include "broker_link.h"

namespace tirvel {

// Defined here, so that the class's virtual table has one home.
BrokerLink::~BrokerLink() = default;

} // namespace tirvel
