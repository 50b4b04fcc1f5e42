#include "frame_writer.h"

#include "capture_facts.h"
#include "frame_files.h"

#include <QBuffer>
#include <QSaveFile>

namespace tirvel {

namespace {

constexpr qint64 TIMED_FRAME_INTERVAL_MS = 1000;

} // namespace

FrameWriter::FrameWriter(const QString &directory, Clock clock, QObject *parent)
    : FrameWriter(directory, std::move(clock), &FrameWriter::storeWhole, parent)
{
}

FrameWriter::FrameWriter(const QString &directory, Clock clock, Store store, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
    , m_clock(std::move(clock))
    , m_store(std::move(store))
{
    // The same rule as the camera's own throttle, so at five frames a second every picture
    // shown is written.
    m_testFrames.setInterval(FIVE_A_SECOND_MS);
    m_timedFrames.setInterval(TIMED_FRAME_INTERVAL_MS);
}

void FrameWriter::write(const QImage &picture)
{
    if (picture.isNull())
        return;
    const qint64 now = m_clock();
    const bool test = m_testFrames.admit(now);
    const bool timed = m_timedFrames.admit(now);
    if (!test && !timed)
        return;
    const QByteArray bytes = encode(picture);
    if (test)
        store(TEST_FRAME_FILE, bytes);
    if (timed)
        store(TIMED_FRAME_FILE, bytes);
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

QString FrameWriter::storeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return {};
}

void FrameWriter::store(const QString &name, const QByteArray &bytes)
{
    const QString path = framePath(m_directory, name);
    const QString problem = m_store(path, bytes);
    if (problem.isEmpty()) {
        m_failureReported = false;
        return;
    }
    if (m_failureReported)
        return;
    m_failureReported = true;
    Q_EMIT failed(QStringLiteral("Cannot write '%1': %2").arg(path, problem));
}

} // namespace tirvel
