#include "alert_label.h"

namespace tirvel {

AlertLabel::AlertLabel(QWidget *parent)
    : QLabel(parent)
{
    hide();
}

void AlertLabel::setMessage(const QString &message)
{
    hide();
    setText(message);
    if (!message.isEmpty())
        show();
}

} // namespace tirvel
