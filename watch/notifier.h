#pragma once

#include <QHash>
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

    // With a reference, the notification offers "Visa", which says shown(reference).
    void notify(const QString &summary, const QString &body, const QString &imagePath = {},
        const QString &reference = {});

Q_SIGNALS:
    void unavailable(const QString &why);
    // A person chose "Visa" on the notification of this reference.
    void shown(const QString &reference);

private Q_SLOTS:
    void actionInvoked(quint32 id, const QString &action);
    void notificationClosed(quint32 id, quint32 reason);

private:
    QString m_desktopId;
    bool m_saidUnavailable = false;
    bool m_listening = false;
    // The references of the notifications still shown, by their ids.
    QHash<quint32, QString> m_references;
};

} // namespace tirvel
