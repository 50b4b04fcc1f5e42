#include "status_tray.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QWidget>

namespace tirvel {

namespace {

const QColor TROUBLE_MARK(0xd0, 0x20, 0x20);
const QColor MOTION_MARK(0xf0, 0x90, 0x00);
const QColor WATCHING_MARK(0x20, 0xa0, 0x40);
// The icon's size where it names none, as one drawn at run time does not.
constexpr int DEFAULT_ICON_SIZE = 48;

} // namespace

TrayLook trayLook(const TrayState &state)
{
    QStringList lines {
        state.watching ? QStringLiteral("Tirvel bevakar") : QStringLiteral("Tirvel bevakar inte")};
    if (state.watching && state.motion)
        lines << QStringLiteral("Rörelse pågår");
    if (state.watching && state.lastCount)
        lines << QStringLiteral("Senaste test: %1 punkter, larm över %2")
                     .arg(*state.lastCount)
                     .arg(state.threshold);
    lines << state.troubles;
    QColor mark;
    if (!state.troubles.isEmpty())
        mark = TROUBLE_MARK;
    else if (state.watching && state.motion)
        mark = MOTION_MARK;
    else if (state.watching)
        mark = WATCHING_MARK;
    return {lines.join(QLatin1Char('\n')), mark};
}

QIcon markedIcon(const QIcon &icon, const QColor &mark)
{
    if (!mark.isValid())
        return icon;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes << QSize(DEFAULT_ICON_SIZE, DEFAULT_ICON_SIZE);
    QIcon marked;
    for (const QSize &size : std::as_const(sizes)) {
        QPixmap pixmap = icon.pixmap(size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // Big enough to be seen at a panel's 22 pixels, ringed so that it shows on any icon.
        const qreal diameter = pixmap.width() * 0.45;
        const QRectF dot(pixmap.width() - diameter, pixmap.height() - diameter, diameter, diameter);
        painter.setPen(QPen(Qt::white, diameter / 8));
        painter.setBrush(mark);
        painter.drawEllipse(
            dot.adjusted(diameter / 16, diameter / 16, -diameter / 16, -diameter / 16));
        painter.end();
        marked.addPixmap(pixmap);
    }
    return marked;
}

StatusTray::StatusTray(QWidget &window, const QIcon &icon, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_icon(icon)
    , m_menu(std::make_unique<QMenu>())
{
    m_watchAction = m_menu->addAction(QStringLiteral("Bevaka"));
    m_watchAction->setCheckable(true);
    connect(m_watchAction, &QAction::triggered, this, &StatusTray::watchRequested);
    m_windowAction = m_menu->addAction(QString());
    connect(m_windowAction, &QAction::triggered, this, &StatusTray::showOrHideWindow);
    connect(m_menu->addAction(QStringLiteral("Händelser")), &QAction::triggered, this,
        &StatusTray::eventsRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("Avsluta")), &QAction::triggered, this,
        &StatusTray::quitRequested);
    m_tray.setContextMenu(m_menu.get());
    connect(
        &m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::Trigger)
                showOrHideWindow();
        });
    // The menu names what its action would do to the window, however it was shown or hidden.
    m_window.installEventFilter(this);
    nameWindowAction();
    m_tray.setIcon(m_icon);
    refresh();
    m_tray.show();
}

StatusTray::~StatusTray() = default;

bool StatusTray::windowShown() const
{
    return m_window.isVisible() && !m_window.isMinimized();
}

void StatusTray::nameWindowAction()
{
    m_windowAction->setText(
        windowShown() ? QStringLiteral("Dölj fönstret") : QStringLiteral("Visa fönstret"));
}

bool StatusTray::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // Queued, so that it reads the window as the change left it.
    if (watched == &m_window
        && (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange))
        QMetaObject::invokeMethod(this, &StatusTray::nameWindowAction, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void StatusTray::setWatching(bool watching)
{
    m_state.watching = watching;
    m_watchAction->setChecked(watching);
    refresh();
}

void StatusTray::setMotion(bool open)
{
    m_state.motion = open;
    refresh();
}

void StatusTray::setTroubles(const QStringList &troubles)
{
    m_state.troubles = troubles;
    refresh();
}

void StatusTray::setLastTest(int count, int threshold)
{
    m_state.lastCount = count;
    m_state.threshold = threshold;
    refresh();
}

void StatusTray::windowHidden()
{
    if (m_saidHidden)
        return;
    m_saidHidden = true;
    m_tray.showMessage(QStringLiteral("Tirvel"),
        QStringLiteral("Tirvel bevakar vidare – fönstret finns i systemfältet"), m_tray.icon());
}

void StatusTray::refresh()
{
    const TrayLook look = trayLook(m_state);
    // Each change crosses to the desktop; a test a second would otherwise resend the icon.
    if (look.toolTip != m_shown.toolTip)
        m_tray.setToolTip(look.toolTip);
    if (look.mark != m_shown.mark)
        m_tray.setIcon(markedIcon(m_icon, look.mark));
    m_shown = look;
}

void StatusTray::showOrHideWindow()
{
    if (windowShown()) {
        m_window.hide();
        return;
    }
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

} // namespace tirvel
