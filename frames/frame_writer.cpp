#include "frame_writer.h"

#include "camera_facts.h"
#include "frame_files.h"

#include "whole_file.h"

#include <QBuffer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace tirvel {

namespace {

constexpr qint64 TIMED_FRAME_INTERVAL_MS = 1000;

} // namespace

FrameWriter::FrameWriter(const QString &directory, Clock clock, QObject *parent)
    : FrameWriter(
        directory, std::move(clock),
        [](const QString &path, const QByteArray &bytes) { return storeWhole(path, bytes); },
        MAX_LAG_MS, parent)
{
}

FrameWriter::FrameWriter(
    const QString &directory, Clock clock, Store store, qint64 maxLagMs, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
    , m_clock(std::move(clock))
    , m_store(std::move(store))
    , m_maxLagMs(maxLagMs)
    , m_reports([this](const QString &description) { Q_EMIT failed(description); })
{
    // The same rule as the camera's own throttle, so at five frames a second every picture
    // shown is written.
    m_testFrames.setInterval(FIVE_A_SECOND_MS);
    m_timedFrames.setInterval(TIMED_FRAME_INTERVAL_MS);
}

void FrameWriter::write(const QImage &picture)
{
    writeTaken(picture, m_clock());
}

void FrameWriter::writeTaken(const QImage &picture, qint64 takenMs)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (picture.isNull() || m_clock() - takenMs > m_maxLagMs)
        return;
    const bool test = m_testFrames.admit(takenMs);
    const bool timed = !m_timedFramesGiven && m_timedFrames.admit(takenMs);
    if (!test && !timed)
        return;
    const QByteArray bytes = encode(picture);
    if (test)
        store(TEST_FRAME_FILE, bytes);
    if (timed)
        store(TIMED_FRAME_FILE, bytes);
}

void FrameWriter::setTimedFramesFromTests(bool fromTests)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_timedFramesFromTests = fromTests;
    m_timedFramesGiven = false;
}

void FrameWriter::writeTimedFrame(const QImage &picture)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_timedFramesFromTests || picture.isNull())
        return;
    m_timedFramesGiven = true;
    store(TIMED_FRAME_FILE, encode(picture));
}

QByteArray FrameWriter::encode(const QImage &picture)
{
    // Qt writes 24 bits a pixel for any picture without a palette.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP");
    return bytes;
}

void FrameWriter::store(const QString &name, const QByteArray &bytes)
{
    // Frames whose writing a crash cut off, once, before the first is written.
    if (!m_tidied) {
        m_tidied = true;
        const int folder = ::open(QFile::encodeName(m_directory).constData(),
            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0) {
            removeLeftovers(folder, [](const QByteArray &target) {
                return target == TEST_FRAME_FILE.toLatin1()
                    || target == TIMED_FRAME_FILE.toLatin1();
            });
            ::close(folder);
        }
    }
    const QString path = framePath(m_directory, name);
    const QString problem = m_store(path, bytes);
    // One report for each file that goes on failing, so a working 6.bmp cannot bring back the
    // report of a failing 5.bmp every second.
    if (problem.isEmpty())
        m_reports.written(name);
    else
        m_reports.failed(name, QStringLiteral("Cannot write '%1': %2").arg(path, problem));
}

} // namespace tirvel
