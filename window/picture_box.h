#pragma once

#include "picture_surface.h"

#include <QWidget>

namespace tirvel {

// A picture box of the main window: a border and, inside it, a PictureSurface drawn one to one.
// The widget's size is the surface's outer size. The box always draws the surface's pixel layer
// as it stands, so marks written into it survive the window being covered or minimised; only a
// load or a change of size repaints the layer.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    enum class Frame {
        Sunken, // a two-pixel sunken panel
        Flat, // a one-pixel line
    };

    PictureBox(Frame frame, ColourValue background, QWidget *parent = nullptr);

    Frame frame() const noexcept { return m_frame; }
    PictureSurface &surface() noexcept { return m_surface; }
    const PictureSurface &surface() const noexcept { return m_surface; }

    // Sizes widget and surface at once; a hidden widget would only hear of a resize when shown.
    void setOuterSize(QSize outer);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Frame m_frame;
    PictureSurface m_surface;
};

} // namespace tirvel
