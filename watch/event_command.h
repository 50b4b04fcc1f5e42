#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace tirvel {

// The --on-event command: run without a shell, with what happened in its environment, one at a
// time. One due while the last still runs is dropped; one still running after 30 seconds is
// ended, gently and then for sure. A command that cannot start or exits with a failure is said
// once, and again only after one has succeeded.
class EventCommand : public QObject
{
    Q_OBJECT

public:
    static constexpr int TIME_LIMIT_MS = 30000;
    static constexpr int KILL_AFTER_MS = 2000;
    // As the program ends, a command is given less time.
    static constexpr int END_WAIT_MS = 500;

    // The program and its arguments.
    explicit EventCommand(QStringList command, QObject *parent = nullptr);
    ~EventCommand() override;

    // False, after dropped(), when the last one still runs.
    bool run(const QProcessEnvironment &environment);
    // Ends a running command now, as the program ends.
    void end();

Q_SIGNALS:
    void dropped();
    void timedOut();
    void failed(const QString &why);

private:
    void finished(int exitCode, QProcess::ExitStatus status);

    QStringList m_command;
    QProcess m_process;
    QTimer m_limit;
    QTimer m_kill;
    bool m_saidFailure = false;
};

} // namespace tirvel
