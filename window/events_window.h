#pragma once

#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QLabel;
class QListWidget;
class QMediaPlayer;
class QPushButton;
class QStackedWidget;
class QVideoWidget;

namespace tirvel {

// One event as the event folder's log tells it: a motion-start, with its end when it came.
struct LoggedEvent
{
    QDateTime start;
    // Invalid while the event is open, or when its end was never logged.
    QDateTime end;
    int count = 0;
    int threshold = 0;
    QString picture;
    QString snapshot;
    // The clip its end names; the file may still be on its way, or gone.
    QString clip;
    // The line could not be read; nothing else is known.
    bool damaged = false;
};

// The events of the log and the log before it, newest first; a damaged line is one entry of
// its own, so that it is seen rather than skipped. An event whose picture a "deleted" line names,
// in either log, is left out.
std::vector<LoggedEvent> readLoggedEvents(const QString &folder);

// "Händelser": the events kept in the event folder, newest first, each with its time, length,
// count and threshold and a thumbnail; the one chosen is shown whole, at the camera's own size
// when it was kept, or its clip played in its place. It reads only what the folder holds, so it
// shows events of earlier runs too, and never changes it: deleting events is asked of whoever
// keeps the folder, and the window sees them gone when the log says so.
class EventsWindow : public QDialog
{
    Q_OBJECT

public:
    // Asks the person a yes-or-no question; the window's own asks with a message box.
    using Ask = std::function<bool(const QString &question)>;

    explicit EventsWindow(QString folder, QWidget *parent = nullptr, Ask ask = {});

    // Reads the folder again, keeping the chosen event chosen; as each new event is stored.
    void refresh();
    // Chooses the event of this picture, if it is listed.
    void choose(const QString &picture);

Q_SIGNALS:
    // The person confirmed deleting the events of these pictures.
    void deleteRequested(const QStringList &pictures);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showChosen();
    // The chosen picture scaled into its place.
    void fitPicture();
    // The event's clip in the picture's place, or why there is none.
    void showClip(const LoggedEvent &event);
    void deleteChosen();
    void deleteOlder();

    QString m_folder;
    Ask m_ask;
    std::vector<LoggedEvent> m_events;
    QListWidget *m_list = nullptr;
    QLabel *m_picture = nullptr;
    QPixmap m_whole;
    // The thumbnails read so far, by picture.
    QHash<QString, QIcon> m_icons;
    QMediaPlayer *m_player = nullptr;
    QVideoWidget *m_video = nullptr;
    QStackedWidget *m_view = nullptr;
    QPushButton *m_playButton = nullptr;
    QLabel *m_note = nullptr;
    QPushButton *m_deleteButton = nullptr;
};

} // namespace tirvel
