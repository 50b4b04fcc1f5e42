#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QVideoFrame>

namespace tirvel {

// Turns a camera frame into the picture the live view shows: converted from the camera's format,
// then fitted into the view with the aspect kept, on a dark ground. Converting and scaling cost
// more than anything else per frame, so the program runs it on a thread of its own and the
// window's thread never waits for it; without one, it paints at once.
class FramePainter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The frame, whole and as a picture at the view's size, both null when it cannot be
    // converted; generation comes back with it, so whoever asked can tell a picture of a camera
    // since stopped.
    void paint(const QVideoFrame &frame, QSize viewSize, quint64 generation);
    void repaint(const QImage &frame, QSize viewSize, quint64 generation);

    static QImage compose(const QImage &frame, QSize viewSize);

Q_SIGNALS:
    void painted(const QImage &frame, const QImage &picture, quint64 generation);
    // The same for a frame painted again at another size.
    void repainted(const QImage &frame, const QImage &picture, quint64 generation);
};

} // namespace tirvel
