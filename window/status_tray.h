#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QStringList>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace tirvel {

// What the tray says of Tirvel.
struct TrayState
{
    bool watching = false;
    // A motion event is open.
    bool motion = false;
    // A line for each trouble there is now.
    QStringList troubles;
    // The last test's count, and the count a detection must exceed.
    std::optional<int> lastCount;
    int threshold = 0;
};

struct TrayLook
{
    QString toolTip;
    // Invalid for none.
    QColor mark;
};

// The tooltip, and the mark on the icon: trouble outweighs an event, an event watching.
TrayLook trayLook(const TrayState &state);
// The icon with a small round mark in its lower right corner, at each size the icon has.
QIcon markedIcon(const QIcon &icon, const QColor &mark);

// Tirvel in the desktop's system tray, for somebody who started it from the menu and has no
// terminal: what it is doing and what is wrong, and a menu to switch watching, show or hide the
// window and end the program. The window hidden while watching is said once a run, so that
// nobody believes Tirvel ended.
class StatusTray : public QObject
{
    Q_OBJECT

public:
    StatusTray(QWidget &window, const QIcon &icon, QObject *parent = nullptr);
    ~StatusTray() override;

    void setWatching(bool watching);
    void setMotion(bool open);
    void setTroubles(const QStringList &troubles);
    void setLastTest(int count, int threshold);
    // The window was hidden rather than closed.
    void windowHidden();

Q_SIGNALS:
    void watchRequested(bool watching);
    void quitRequested();
    void eventsRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    bool windowShown() const;
    void nameWindowAction();
    void showOrHideWindow();

    QWidget &m_window;
    QIcon m_icon;
    TrayState m_state;
    TrayLook m_shown;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_watchAction = nullptr;
    QAction *m_windowAction = nullptr;
    QSystemTrayIcon m_tray;
    bool m_saidHidden = false;
};

} // namespace tirvel
