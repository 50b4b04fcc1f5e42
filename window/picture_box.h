#pragma once

#include "picture_surface.h"

#include <QWidget>

namespace tirvel {

// A picture box of the main window: a border and, inside it, a PictureSurface drawn one to one.
// The box always draws the surface's pixel layer as it stands, so marks written into it survive
// the window being covered or minimised; only a load or a change of size repaints the layer.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    PictureBox(Border border, ColourValue background, QWidget *parent = nullptr);

    PictureSurface &surface() noexcept { return m_surface; }
    const PictureSurface &surface() const noexcept { return m_surface; }

    // The outer size in twips; the widget and the surface's interior follow at once.
    void setOuterWidth(double twips);
    void setOuterHeight(double twips);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    PictureSurface m_surface;
};

} // namespace tirvel
