#pragma once

#include <QObject>
#include <QString>

namespace tirvel {

// Desktop notifications through the freedesktop notification service on the session bus. Each is
// sent without waiting for an answer; the answer only tells whether a service is there, which is
// said once through unavailable(), so that everything else goes on without one.
class Notifier : public QObject
{
    Q_OBJECT

public:
    // The desktop id names the program's menu entry and icon.
    explicit Notifier(const QString &desktopId, QObject *parent = nullptr);

    void notify(const QString &summary, const QString &body, const QString &imagePath = {});

Q_SIGNALS:
    void unavailable(const QString &why);

private:
    QString m_desktopId;
    bool m_saidUnavailable = false;
};

} // namespace tirvel
