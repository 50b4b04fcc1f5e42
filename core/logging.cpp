#include "logging.h"

#include <cstdio>
#include <cstring>

namespace tirvel {

Q_LOGGING_CATEGORY(lcMqtt, "tirvel.mqtt")
Q_LOGGING_CATEGORY(lcSettings, "tirvel.settings")
Q_LOGGING_CATEGORY(lcWatch, "tirvel.watch")
Q_LOGGING_CATEGORY(lcWindow, "tirvel.window")

namespace {

QtMessageHandler g_qtHandler = nullptr;

void showMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category != nullptr && std::strncmp(context.category, "tirvel.", 7) == 0) {
        std::fprintf(stderr, "tirvel: %s\n", qPrintable(message));
        return;
    }
    if (g_qtHandler != nullptr)
        g_qtHandler(type, context, message);
}

} // namespace

void installMessageFormat()
{
    g_qtHandler = qInstallMessageHandler(showMessage);
}

} // namespace tirvel
