#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QWidget>

class QPushButton;

namespace tirvel {

// The camera's picture with the parts left out of watching shaded; a drag leaves a rectangle
// out, a drag with the right button (or with Shift) takes it back in.
class MaskCanvas : public QWidget
{
    Q_OBJECT

public:
    MaskCanvas(const QImage &picture, const QImage &mask, QWidget *parent = nullptr);

    // White where watched, black where left out, at the picture's size.
    const QImage &mask() const { return m_mask; }
    void clear();
    QSize sizeHint() const override;

Q_SIGNALS:
    void changed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRect pictureArea() const;
    QPoint toPicture(QPoint widgetPoint) const;
    QRect dragged() const;

    QImage m_picture;
    QImage m_mask;
    bool m_dragging = false;
    bool m_watching = false;
    QPoint m_from;
    QPoint m_to;
};

// Where a person marks the parts of the picture that are not to be watched: a plant, a screen, a
// window onto the street.
class MaskEditor : public QDialog
{
    Q_OBJECT

public:
    // picture is the camera's latest, whole; mask the one in use, of any size, or null.
    MaskEditor(const QImage &picture, const QImage &mask, QWidget *parent = nullptr);

    // White where watched, black where left out; null when nothing is left out.
    QImage mask() const;
    MaskCanvas &canvas() { return *m_canvas; }

private:
    MaskCanvas *m_canvas = nullptr;
};

} // namespace tirvel
