#include "mask_editor.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tirvel {

namespace {

const QSize NO_PICTURE_SIZE {640, 480};
constexpr QRgb WATCHED = 0xffffffff;
constexpr QRgb LEFT_OUT = 0xff000000;

// Any picture as black and white at size: dark parts left out.
QImage maskAt(const QImage &mask, QSize size)
{
    QImage result(size, QImage::Format_RGB32);
    result.fill(WATCHED);
    if (mask.isNull())
        return result;
    const QImage grey = mask.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                            .convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y) {
        const uchar *line = grey.constScanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            if (line[x] < 128)
                result.setPixel(x, y, LEFT_OUT);
        }
    }
    return result;
}

} // namespace

MaskCanvas::MaskCanvas(const QImage &picture, const QImage &mask, QWidget *parent)
    : QWidget(parent)
    , m_picture(picture.isNull() ? QImage(NO_PICTURE_SIZE, QImage::Format_RGB32) : picture)
    , m_mask(maskAt(mask, m_picture.size()))
{
    if (picture.isNull())
        m_picture.fill(Qt::darkGray);
    setObjectName(QStringLiteral("maskCanvas"));
    setAccessibleName(QStringLiteral("Kamerabilden med de delar som inte bevakas skuggade"));
    setCursor(Qt::CrossCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize MaskCanvas::sizeHint() const
{
    return m_picture.size().scaled(NO_PICTURE_SIZE, Qt::KeepAspectRatio);
}

void MaskCanvas::clear()
{
    m_mask.fill(WATCHED);
    update();
    Q_EMIT changed();
}

QRect MaskCanvas::pictureArea() const
{
    QRect area({}, m_picture.size().scaled(size(), Qt::KeepAspectRatio));
    area.moveCenter(rect().center());
    return area;
}

QPoint MaskCanvas::toPicture(QPoint widgetPoint) const
{
    const QRect area = pictureArea();
    if (area.isEmpty())
        return {};
    const int x = int(qint64(widgetPoint.x() - area.x()) * m_picture.width() / area.width());
    const int y = int(qint64(widgetPoint.y() - area.y()) * m_picture.height() / area.height());
    return {std::clamp(x, 0, m_picture.width() - 1), std::clamp(y, 0, m_picture.height() - 1)};
}

QRect MaskCanvas::dragged() const
{
    return QRect(toPicture(m_from), toPicture(m_to)).normalized();
}

void MaskCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRect area = pictureArea();
    painter.drawImage(area, m_picture);
    // Left-out parts shaded red, the picture still visible beneath.
    QImage shade(m_mask.size(), QImage::Format_ARGB32_Premultiplied);
    shade.fill(Qt::transparent);
    for (int y = 0; y < m_mask.height(); ++y) {
        for (int x = 0; x < m_mask.width(); ++x) {
            if (m_mask.pixel(x, y) == LEFT_OUT)
                shade.setPixel(x, y, qPremultiply(qRgba(200, 0, 0, 150)));
        }
    }
    painter.drawImage(area, shade);
    if (m_dragging) {
        const QRect chosen = dragged();
        const double scale = double(area.width()) / m_picture.width();
        painter.setPen(QPen(m_watching ? Qt::green : Qt::red, 2, Qt::DashLine));
        painter.drawRect(QRectF(area.x() + chosen.x() * scale, area.y() + chosen.y() * scale,
            chosen.width() * scale, chosen.height() * scale));
    }
}

void MaskCanvas::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    m_watching
        = event->button() == Qt::RightButton || event->modifiers().testFlag(Qt::ShiftModifier);
    m_from = m_to = event->position().toPoint();
    update();
}

void MaskCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_to = event->position().toPoint();
    update();
}

void MaskCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_to = event->position().toPoint();
    m_dragging = false;
    QPainter painter(&m_mask);
    painter.fillRect(dragged(), QColor::fromRgb(m_watching ? WATCHED : LEFT_OUT));
    painter.end();
    update();
    Q_EMIT changed();
}

MaskEditor::MaskEditor(const QImage &picture, const QImage &mask, QWidget *parent)
    : QDialog(parent)
    , m_canvas(new MaskCanvas(picture, mask, this))
{
    setObjectName(QStringLiteral("maskEditor"));
    setWindowTitle(QStringLiteral("Tirvel – maskera bilden"));
    auto *hint = new QLabel(QStringLiteral("Dra över det som inte ska bevakas. Dra med höger "
                                           "musknapp, eller med Skift, för att bevaka det igen."),
        this);
    hint->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("&Spara"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Avbryt"));
    QPushButton *clear
        = buttons->addButton(QStringLiteral("&Bevaka allt"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("clearMaskButton"));
    connect(clear, &QPushButton::clicked, m_canvas, &MaskCanvas::clear);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_canvas, 1);
    layout->addWidget(buttons);
}

QImage MaskEditor::mask() const
{
    const QImage &mask = m_canvas->mask();
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            if (mask.pixel(x, y) == LEFT_OUT)
                return mask;
        }
    }
    return {};
}

} // namespace tirvel
