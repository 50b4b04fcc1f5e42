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

QAccessibleInterface *tirvelInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(AlertLabel::staticMetaObject.className()))
        return new AccessibleAlert(static_cast<AlertLabel *>(object));
    if (className == QLatin1String(PictureBox::staticMetaObject.className())
        || className == QLatin1String(CaptureView::staticMetaObject.className()))
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
