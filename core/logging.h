#pragma once

#include <QLoggingCategory>

namespace tirvel {

// One category a part, so QT_LOGGING_RULES can quieten one ("tirvel.mqtt.info=false").
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcWatch)
Q_DECLARE_LOGGING_CATEGORY(lcWindow)

// Tirvel's own messages are for a person at a terminal or in a service's journal: each a line
// "tirvel: …", with nothing of Qt's decoration. Everything else goes on as Qt would show it.
void installMessageFormat();

} // namespace tirvel
