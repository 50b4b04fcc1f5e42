#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tirvel {

// One Tirvel per user and folders. The first start owns a name on the session bus made from the
// folders it reads and writes and answers Show under it; a later start with the same folders asks
// it to show its window rather than share its frame files and event log, and leaves. Without a
// session bus no start can find another, so every one runs.
class SingleInstance : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", TIRVEL_APP_ID ".Instance")

public:
    // A start that found its folders taken: the line it says and the status it ends with.
    struct Taken
    {
        QString message;
        int status = 0;
    };

    static constexpr int DEFAULT_ANSWER_MS = 1000;

    // The app id and a short hash of the folders' real paths, so that a folder reached through a
    // link, or not made yet, names the same Tirvel.
    static QString serviceName(const QString &frameDirectory, const QString &eventFolder);

    // Waits at most answerMs for each answer, the bus's and the first start's.
    explicit SingleInstance(QString serviceName, int answerMs = DEFAULT_ANSWER_MS);

    // Claims the name, never queueing for it; nothing when this start may run. With the name
    // taken, its owner has been asked to show its window, or with events its events window.
    std::optional<Taken> claim(bool events = false);
    // How the window and the events window are shown; false when nobody can see them.
    void setShowWindow(std::function<bool()> showWindow);
    void setShowEvents(std::function<bool()> showEvents);

public Q_SLOTS:
    // D-Bus names its methods so.
    Q_SCRIPTABLE bool Show(); // NOLINT(readability-identifier-naming)
    Q_SCRIPTABLE bool ShowEvents(); // NOLINT(readability-identifier-naming)

private:
    Taken askOwnerToShow(bool events) const;
    bool answer(const std::function<bool()> &show);

    QString m_serviceName;
    int m_answerMs;
    std::function<bool()> m_showWindow;
    std::function<bool()> m_showEvents;
};

} // namespace tirvel
