#pragma once

#include <QImage>
#include <QWidget>

namespace tirvel {

// A picture box of the main window: a border and, inside it, a picture drawn one to one from the
// interior's top-left, on the box's background where the picture does not reach. It draws the
// picture it was last given, so marks in it survive the window being covered or minimised.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    enum class Frame {
        Sunken, // a two-pixel sunken panel
        Flat, // a one-pixel line
    };

    PictureBox(Frame frame, QColor background, QWidget *parent = nullptr);

    QColor background() const { return m_background; }
    // The widget's size less the border on every side.
    QSize interiorSize() const;
    void setPicture(const QImage &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int borderWidth() const noexcept { return m_frame == Frame::Sunken ? 2 : 1; }

    Frame m_frame;
    QColor m_background;
    QImage m_picture;
};

} // namespace tirvel
