#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <sys/types.h>

#include <deque>
#include <optional>

namespace tirvel {

// The --on-event command, run as a service manager runs one: in a session of its own, so that
// whatever it starts can be ended with it, and with none of Tirvel's input, descriptors or MQTT
// password, which are not its business. One runs at a time, so slow commands never pile up;
// later events wait, QUEUE_LENGTH at most. A failure is said once until a command succeeds, not
// once for every event.
class EventCommand : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        // A command still running after this long is sent SIGTERM,
        int limitMs = 30000;
        // and its group SIGKILL this much later.
        int killAfterMs = 2000;
        // As the program ends, a command is given less time.
        int endWaitMs = 500;
    };
    static constexpr int QUEUE_LENGTH = 16;

    // The program and its arguments.
    explicit EventCommand(QStringList command, QObject *parent = nullptr);
    EventCommand(QStringList command, Timing timing, QObject *parent = nullptr);
    ~EventCommand() override;

    // Runs the command now, or once those before it have run; false when too many wait already.
    // done() gives the key back once this run has ended or was given up.
    bool run(QProcessEnvironment environment, const QString &key = {});
    // No command runs and none waits.
    bool idle() const { return !m_running && m_waiting.empty(); }
    // Ends a running command and all it started now, as the program ends; those waiting are
    // dropped.
    void end();

Q_SIGNALS:
    // How many events found no room to wait, said once there is room again, or at the end.
    void dropped(int count);
    void timedOut();
    void failed(const QString &why);
    void done(const QString &key);

private:
    struct Run
    {
        QProcessEnvironment environment;
        QString key;
    };
    void start(const Run &run);
    void runEnded();
    void startNext();
    void finished(int exitCode, QProcess::ExitStatus status);
    void signalGroup(int signal);
    // What a command left running is ended like a command past its time.
    void endLeftovers(pid_t group);

    QStringList m_command;
    Timing m_timing;
    QProcess m_process;
    QTimer m_limit;
    QTimer m_kill;
    std::deque<Run> m_waiting;
    // The running command's key, until it is given back.
    std::optional<QString> m_running;
    int m_dropped = 0;
    // The running command's process group, which is its process id.
    pid_t m_group = 0;
    // Groups of finished commands that still had members, until they are killed.
    QList<pid_t> m_ending;
    bool m_saidFailure = false;
};

} // namespace tirvel
