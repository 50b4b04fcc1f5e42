#include "event_command.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <utility>

namespace tirvel {

namespace {

// The descriptors to look at where close_range() is missing.
int descriptorLimit()
{
    constexpr rlim_t MOST = 65536;
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return int(MOST);
    return int(std::min(limit.rlim_cur, MOST));
}

} // namespace

EventCommand::EventCommand(QStringList command, QObject *parent)
    : EventCommand(std::move(command), Timing {}, parent)
{
}

EventCommand::EventCommand(QStringList command, Timing timing, QObject *parent)
    : QObject(parent)
    , m_command(std::move(command))
    , m_timing(timing)
{
    m_process.setProgram(m_command.value(0));
    m_process.setArguments(m_command.mid(1));
    // Its output is its own business, and the program's terminal is the place for it; its input
    // is nothing, so a command that reads it (ssh, cat) goes on at once.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    // Runs in the child between fork and exec, where only async-signal-safe calls may be made.
    m_process.setChildProcessModifier([limit = descriptorLimit()] {
        ::setsid();
        // The display's and sound server's sockets, the event folder: none of the command's
        // business, and a child holding one would keep it open after Tirvel ends.
        if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int descriptor = 3; descriptor < limit; ++descriptor)
                ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
        }
    });
    m_limit.setSingleShot(true);
    m_limit.setInterval(m_timing.limitMs);
    m_kill.setSingleShot(true);
    m_kill.setInterval(m_timing.killAfterMs);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        Q_EMIT timedOut();
        if (!m_saidFailure) {
            m_saidFailure = true;
            Q_EMIT failed(QStringLiteral("The command '%1' of --on-event ran for more than %2 "
                                         "seconds and was ended.")
                              .arg(m_command.join(QLatin1Char(' ')))
                              .arg(m_timing.limitMs / 1000));
        }
        signalGroup(SIGTERM);
        m_kill.start();
    });
    connect(&m_kill, &QTimer::timeout, this, [this] { signalGroup(SIGKILL); });
    connect(&m_process, &QProcess::finished, this, &EventCommand::finished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_limit.stop();
        m_group = 0;
        runEnded();
        QMetaObject::invokeMethod(this, &EventCommand::startNext, Qt::QueuedConnection);
        if (!m_saidFailure) {
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

bool EventCommand::run(QProcessEnvironment environment, const QString &key)
{
    // The broker's password is Tirvel's alone.
    environment.remove(QStringLiteral("TIRVEL_MQTT_PASSWORD"));
    Run run {environment, key};
    if (m_process.state() == QProcess::NotRunning && m_waiting.empty() && !m_running) {
        start(run);
        return true;
    }
    if (m_waiting.size() < std::size_t(QUEUE_LENGTH)) {
        m_waiting.push_back(std::move(run));
        return true;
    }
    ++m_dropped;
    return false;
}

void EventCommand::runEnded()
{
    if (const auto key = std::exchange(m_running, std::nullopt))
        Q_EMIT done(*key);
}

void EventCommand::start(const Run &run)
{
    m_running = run.key;
    m_process.setProcessEnvironment(run.environment);
    m_process.start();
    // setsid() made its process id its group's.
    m_group = pid_t(m_process.processId());
    if (m_group > 0)
        m_limit.start();
}

void EventCommand::startNext()
{
    if (m_dropped > 0) {
        Q_EMIT dropped(m_dropped);
        m_dropped = 0;
    }
    if (m_process.state() != QProcess::NotRunning || m_waiting.empty() || m_running)
        return;
    const Run next = m_waiting.front();
    m_waiting.pop_front();
    start(next);
}

void EventCommand::signalGroup(int signal)
{
    // Right after the start the child may not have its own group yet.
    if (m_group > 0 && ::kill(-m_group, signal) != 0)
        ::kill(m_group, signal);
}

void EventCommand::endLeftovers(pid_t group)
{
    if (group <= 0 || ::kill(-group, SIGTERM) != 0)
        return;
    m_ending.append(group);
    QTimer::singleShot(m_timing.killAfterMs, this, [this, group] {
        if (m_ending.removeOne(group))
            ::kill(-group, SIGKILL);
    });
}

void EventCommand::end()
{
    m_limit.stop();
    m_kill.stop();
    const int lost = m_dropped + int(m_waiting.size());
    m_dropped = 0;
    const std::deque<Run> waiting = std::exchange(m_waiting, {});
    // Said before the running one ends, which would make it look caught up.
    if (lost > 0)
        Q_EMIT dropped(lost);
    if (m_process.state() != QProcess::NotRunning) {
        signalGroup(SIGTERM);
        if (!m_process.waitForFinished(m_timing.endWaitMs)) {
            signalGroup(SIGKILL);
            m_process.waitForFinished(m_timing.endWaitMs);
        }
    }
    for (const pid_t group : std::as_const(m_ending))
        ::kill(-group, SIGKILL);
    m_ending.clear();
    runEnded();
    for (const Run &run : waiting)
        Q_EMIT done(run.key);
}

void EventCommand::finished(int exitCode, QProcess::ExitStatus status)
{
    const bool timedOut = !m_limit.isActive();
    m_limit.stop();
    m_kill.stop();
    endLeftovers(m_group);
    m_group = 0;
    runEnded();
    // Started from the event loop, not from inside QProcess's own signal.
    QMetaObject::invokeMethod(this, &EventCommand::startNext, Qt::QueuedConnection);
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
