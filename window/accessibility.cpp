#include "accessibility.h"

#include "alert_label.h"
#include "capture_view.h"
#include "picture_box.h"

#include <QAccessibleWidget>

namespace tirvel {

namespace {

class AccessibleAlert : public QAccessibleWidget
{
public:
    explicit AccessibleAlert(AlertLabel *label)
        : QAccessibleWidget(label, QAccessible::AlertMessage)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        // Qt names a plain widget only by its accessible name or a buddy, never by its text.
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const AlertLabel *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

// A screen reader hears why the live view shows no picture, which a sighted user reads in it.
class AccessibleLiveView : public QAccessibleWidget
{
public:
    explicit AccessibleLiveView(CaptureView *view)
        : QAccessibleWidget(view, QAccessible::Graphic)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        QString placeholder = static_cast<const CaptureView *>(widget())->placeholderText();
        if (kind == QAccessible::Description && !placeholder.isEmpty())
            return placeholder;
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *tirvelInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(AlertLabel::staticMetaObject.className()))
        return new AccessibleAlert(static_cast<AlertLabel *>(object));
    if (auto *view = qobject_cast<CaptureView *>(object))
        return new AccessibleLiveView(view);
    if (className == QLatin1String(PictureBox::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

void installAccessibleRoles()
{
    static const bool INSTALLED = [] {
        QAccessible::installFactory(tirvelInterface);
        return true;
    }();
    Q_UNUSED(INSTALLED)
}

} // namespace tirvel
