#include "camera_view.h"

#include "camera_supervisor.h"

#include <QPainter>
#include <QResizeEvent>

namespace tirvel {

namespace {

constexpr QColor GROUND_COLOUR {24, 24, 24};
constexpr QColor PLACEHOLDER_TEXT_COLOUR {220, 220, 220};
constexpr int PLACEHOLDER_MARGIN = 6;

QString reasonText(CameraStatus status, const QString &cameraName)
{
    switch (status) {
    case CameraStatus::Showing:
        return {};
    case CameraStatus::NoCamera:
        return QStringLiteral("Ingen kamera");
    case CameraStatus::Waiting:
        return QStringLiteral("Väntar på kameran \u201C%1\u201D").arg(cameraName);
    case CameraStatus::Starting:
        return QStringLiteral("Startar kameran …");
    case CameraStatus::Busy:
        return QStringLiteral("Kameran används av ett annat program");
    case CameraStatus::AccessDenied:
        return QStringLiteral("Åtkomst till kameran nekades");
    case CameraStatus::Silent:
        break;
    }
    return QStringLiteral("Kameran skickar inga bilder");
}

} // namespace

CameraView::CameraView(CameraSupervisor &supervisor, QWidget *parent)
    : CaptureView(parent)
    , m_supervisor(supervisor)
{
    // The window places the view by hand; the fixed policy only keeps layouts from stretching it.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(DESIGN_SIZE);
    m_supervisor.setViewSize(DESIGN_SIZE);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&m_supervisor, &CameraSupervisor::pictureChanged, this, [this] { update(); });
    connect(&m_supervisor, &CameraSupervisor::statusChanged, this, [this] { update(); });
}

void CameraView::frameSizeCommand()
{
    m_supervisor.frameSizeCommand();
}

void CameraView::frameRateCommand()
{
    m_supervisor.frameRateCommand();
}

QString CameraView::placeholderText() const
{
    return reasonText(m_supervisor.status(), m_supervisor.cameraName());
}

QSize CameraView::sizeHint() const
{
    return DESIGN_SIZE;
}

QSize CameraView::minimumSizeHint() const
{
    return DESIGN_SIZE;
}

void CameraView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage &picture = m_supervisor.picture();
    if (!picture.isNull()) {
        painter.drawImage(0, 0, picture);
        return;
    }
    painter.fillRect(rect(), GROUND_COLOUR);
    painter.setPen(PLACEHOLDER_TEXT_COLOUR);
    const QRect box = rect().adjusted(
        PLACEHOLDER_MARGIN, PLACEHOLDER_MARGIN, -PLACEHOLDER_MARGIN, -PLACEHOLDER_MARGIN);
    painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, placeholderText());
}

void CameraView::resizeEvent(QResizeEvent *event)
{
    m_supervisor.setViewSize(event->size());
    CaptureView::resizeEvent(event);
}

} // namespace tirvel
