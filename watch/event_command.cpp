#include "event_command.h"

namespace tirvel {

EventCommand::EventCommand(QStringList command, QObject *parent)
    : QObject(parent)
    , m_command(std::move(command))
{
    m_process.setProgram(m_command.value(0));
    m_process.setArguments(m_command.mid(1));
    // Its output is its own business, and the program's terminal is the place for it.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_limit.setSingleShot(true);
    m_limit.setInterval(TIME_LIMIT_MS);
    m_kill.setSingleShot(true);
    m_kill.setInterval(KILL_AFTER_MS);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        Q_EMIT timedOut();
        if (!m_saidFailure) {
            m_saidFailure = true;
            Q_EMIT failed(QStringLiteral("The command '%1' of --on-event ran for more than %2 "
                                         "seconds and was ended.")
                              .arg(m_command.join(QLatin1Char(' ')))
                              .arg(TIME_LIMIT_MS / 1000));
        }
        m_process.terminate();
        m_kill.start();
    });
    connect(&m_kill, &QTimer::timeout, &m_process, &QProcess::kill);
    connect(&m_process, &QProcess::finished, this, &EventCommand::finished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && !m_saidFailure) {
            m_saidFailure = true;
            Q_EMIT failed(QStringLiteral("The command '%1' of --on-event cannot start: %2")
                              .arg(m_command.join(QLatin1Char(' ')), m_process.errorString()));
        }
    });
}

EventCommand::~EventCommand()
{
    end();
}

bool EventCommand::run(const QProcessEnvironment &environment)
{
    if (m_process.state() != QProcess::NotRunning) {
        Q_EMIT dropped();
        return false;
    }
    m_process.setProcessEnvironment(environment);
    m_process.start();
    m_limit.start();
    return true;
}

void EventCommand::end()
{
    m_limit.stop();
    m_kill.stop();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(END_WAIT_MS)) {
        m_process.kill();
        m_process.waitForFinished(END_WAIT_MS);
    }
}

void EventCommand::finished(int exitCode, QProcess::ExitStatus status)
{
    const bool timedOut = !m_limit.isActive();
    m_limit.stop();
    m_kill.stop();
    if (status == QProcess::NormalExit && exitCode == 0) {
        m_saidFailure = false;
        return;
    }
    if (m_saidFailure || timedOut)
        return;
    m_saidFailure = true;
    Q_EMIT failed(status == QProcess::NormalExit
            ? QStringLiteral("The command '%1' of --on-event failed with exit status %2.")
                  .arg(m_command.join(QLatin1Char(' ')))
                  .arg(exitCode)
            : QStringLiteral("The command '%1' of --on-event crashed.")
                  .arg(m_command.join(QLatin1Char(' '))));
}

} // namespace tirvel
