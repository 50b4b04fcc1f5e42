#include "worker_thread.h"

namespace tirvel {

WorkerThread::WorkerThread(const QString &name)
    : m_thread(new QThread)
    , m_anchor(adopt(new QObject))
{
    m_thread->setObjectName(name);
}

WorkerThread::~WorkerThread()
{
    stop();
}

void WorkerThread::start()
{
    m_thread->start();
}

bool WorkerThread::stop(int waitMs)
{
    if (m_thread == nullptr)
        return true;
    if (m_thread->isRunning())
        QMetaObject::invokeMethod(m_anchor, [thread = m_thread] { thread->quit(); });
    else
        m_thread->quit();
    if (!m_thread->wait(QDeadlineTimer(waitMs))) {
        // Deleting a running QThread aborts the process; this one ends with it instead.
        m_thread = nullptr;
        return false;
    }
    delete m_thread;
    m_thread = nullptr;
    return true;
}

} // namespace tirvel
