#pragma once

#include <QObject>
#include <QString>
#include <QThread>

namespace tirvel {

// The one way Tirvel runs work off the window's thread, Qt's worker-object pattern: objects are
// moved onto a named thread, run there in the order they are asked, talk back through queued
// signals, and are deleted there when it ends. A thread stuck in a call that cannot be interrupted
// (a read from a hung network folder) is not waited for past the time given: it is left to end
// with the process, so the program still ends promptly.
class WorkerThread
{
public:
    // How long an ending program waits for a worker by default.
    static constexpr int END_WAIT_MS = 500;

    explicit WorkerThread(const QString &name);
    // Stops the thread, waiting at most END_WAIT_MS.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Moves a parentless object onto the thread, which then owns it.
    template <typename Worker> Worker *adopt(Worker *worker)
    {
        worker->moveToThread(m_thread);
        QObject::connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
        return worker;
    }

    void start();
    // Ends the thread once what it was asked before is done, waiting at most waitMs; false when
    // it still runs.
    bool stop(int waitMs = END_WAIT_MS);
    QThread *thread() const { return m_thread; }

private:
    QThread *m_thread;
    // Lives on the thread, so that the end can be asked for behind the work already asked.
    QObject *m_anchor;
};

} // namespace tirvel
