#pragma once

#include <QLabel>

namespace tirvel {

// The label that carries the window's result. It is hidden while it has nothing to say and shows
// itself with each message, because a screen reader speaks an object with the alert role when it
// comes into view, and Qt's AT-SPI bridge passes that on while it drops alert events.
class AlertLabel : public QLabel
{
    Q_OBJECT

public:
    explicit AlertLabel(QWidget *parent = nullptr);

    // An empty message hides the label; each message, even the same one again, shows it anew.
    void setMessage(const QString &message);
};

} // namespace tirvel
