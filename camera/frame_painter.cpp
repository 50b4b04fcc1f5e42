#include "frame_painter.h"

#include "image_from_video_frame.h"
#include "shrink.h"

#include <QPainter>
#include <QThread>

namespace tirvel {

namespace {

// The ground around a picture whose aspect differs from the view's.
constexpr QColor GROUND_COLOUR {24, 24, 24};

} // namespace

void FramePainter::paint(const QVideoFrame &frame, QSize viewSize, quint64 generation)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QImage image = imageFromVideoFrame(frame);
    Q_EMIT painted(image, image.isNull() ? QImage() : compose(image, viewSize), generation);
}

void FramePainter::repaint(const QImage &frame, QSize viewSize, quint64 generation)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Q_EMIT repainted(frame, compose(frame, viewSize), generation);
}

QImage FramePainter::compose(const QImage &frame, QSize viewSize)
{
    // What the view shows is what the frame files get.
    QImage picture(viewSize, QImage::Format_RGB32);
    picture.fill(GROUND_COLOUR);
    const QSize fitted = frame.size().scaled(viewSize, Qt::KeepAspectRatio);
    QRect target({}, fitted);
    target.moveCenter(picture.rect().center());
    QPainter painter(&picture);
    if (fitted.width() < frame.width() && fitted.height() < frame.height()) {
        painter.drawImage(target.topLeft(), shrinkByAveraging(frame, fitted));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, frame);
    }
    return picture;
}

} // namespace tirvel
