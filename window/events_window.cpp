#include "events_window.h"

#include "logging.h"

#include <QDateEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <algorithm>
#include <utility>

namespace tirvel {

namespace {

constexpr int THUMBNAIL_WIDTH = 160;
constexpr int PICTURE_WIDTH = 640;
constexpr int PICTURE_HEIGHT = 480;
// "Radera äldre…" offers to delete what is older than a week.
constexpr int DAYS_KEPT = 7;

QDateTime timeOf(const QJsonObject &line)
{
    return QDateTime::fromString(line.value(QStringLiteral("time")).toString(), Qt::ISODate);
}

void readLog(const QString &path, std::vector<LoggedEvent> &events, QSet<QString> &deleted)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return;
    std::size_t open = events.size();
    while (!log.atEnd()) {
        const QByteArray text = log.readLine().trimmed();
        if (text.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(text);
        const QJsonObject line = document.object();
        const QString kind = line.value(QStringLiteral("event")).toString();
        if (!document.isObject() || kind.isEmpty() || !timeOf(line).isValid()) {
            LoggedEvent damaged;
            damaged.damaged = true;
            events.push_back(damaged);
            continue;
        }
        if (kind == QLatin1String("motion-start")) {
            LoggedEvent event;
            event.start = timeOf(line);
            event.count = line.value(QStringLiteral("count")).toInt();
            event.threshold = line.value(QStringLiteral("threshold")).toInt();
            event.picture = line.value(QStringLiteral("picture")).toString();
            event.snapshot = line.value(QStringLiteral("snapshot")).toString();
            open = events.size();
            events.push_back(event);
        } else if (kind == QLatin1String("motion-end") && open < events.size()) {
            events[open].end = timeOf(line);
            events[open].clip = line.value(QStringLiteral("clip")).toString();
            open = events.size();
        } else if (kind == QLatin1String("deleted")) {
            for (const QJsonValue picture : line.value(QStringLiteral("pictures")).toArray())
                deleted.insert(picture.toString());
        }
    }
}

// Only a plain name of the folder's own; a log line cannot point outside it.
QString fileIn(const QString &folder, const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return {};
    return QDir(folder).filePath(name);
}

QString describe(const LoggedEvent &event, bool pictureThere)
{
    if (event.damaged)
        return QStringLiteral("Skadad rad i loggen");
    QStringList parts {QLocale().toString(event.start.toLocalTime(), QLocale::ShortFormat)};
    parts << (event.end.isValid()
            ? QStringLiteral("%1 s").arg(std::max<qint64>(1, event.start.secsTo(event.end)))
            : QStringLiteral("utan slut"));
    parts << QStringLiteral("%1 punkter, gräns %2").arg(event.count).arg(event.threshold);
    if (!pictureThere)
        parts << QStringLiteral("bilden saknas");
    return parts.join(QStringLiteral(" · "));
}

bool askPerson(QWidget *parent, const QString &question)
{
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Radera"), question, QMessageBox::NoButton, parent);
    const QAbstractButton *yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    // Deleting cannot be undone, so Enter alone does not do it.
    box.setDefaultButton(box.addButton(QStringLiteral("&Nej"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == yes;
}

// The day before which "Radera äldre…" deletes, or none when the person cancels.
QDate askDay(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Radera äldre händelser"));
    auto *day = new QDateEdit(QDate::currentDate().addDays(-DAYS_KEPT), &dialog);
    day->setObjectName(QStringLiteral("deleteBeforeDate"));
    day->setCalendarPopup(true);
    day->setAccessibleName(QStringLiteral("Radera alla händelser före"));
    auto *label = new QLabel(QStringLiteral("Radera alla händelser &före:"), &dialog);
    label->setBuddy(day);
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Avbryt"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *form = new QFormLayout(&dialog);
    form->addRow(label, day);
    form->addRow(buttons);
    return dialog.exec() == QDialog::Accepted ? day->date() : QDate();
}

} // namespace

std::vector<LoggedEvent> readLoggedEvents(const QString &folder)
{
    std::vector<LoggedEvent> events;
    QSet<QString> deleted;
    const QDir dir(folder);
    readLog(dir.filePath(QStringLiteral("events.jsonl.1")), events, deleted);
    readLog(dir.filePath(QStringLiteral("events.jsonl")), events, deleted);
    // A deletion and its event may be in either log, so deletions count once both are read.
    std::erase_if(events, [&deleted](const LoggedEvent &event) {
        return !event.picture.isEmpty() && deleted.contains(event.picture);
    });
    std::reverse(events.begin(), events.end());
    return events;
}

EventsWindow::EventsWindow(QString folder, QWidget *parent, Ask ask)
    : QDialog(parent)
    , m_folder(std::move(folder))
    , m_ask(ask ? std::move(ask)
                : [this](const QString &question) { return askPerson(this, question); })
    , m_list(new QListWidget(this))
    , m_picture(new QLabel(this))
{
    setObjectName(QStringLiteral("eventsWindow"));
    setWindowTitle(QStringLiteral("Händelser"));
    m_list->setObjectName(QStringLiteral("eventList"));
    m_list->setAccessibleName(QStringLiteral("Händelser, den senaste först"));
    m_list->setIconSize({THUMBNAIL_WIDTH / 2, THUMBNAIL_WIDTH / 4});
    m_list->setMinimumWidth(THUMBNAIL_WIDTH * 3);
    m_picture->setObjectName(QStringLiteral("eventPicture"));
    m_picture->setAccessibleName(QStringLiteral("Händelsens bild"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(PICTURE_WIDTH * 3 / 4, PICTURE_HEIGHT * 3 / 4);
    m_deleteButton = new QPushButton(QStringLiteral("&Radera"), this);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setAccessibleName(QStringLiteral("Radera den valda händelsen"));
    connect(m_deleteButton, &QPushButton::clicked, this, &EventsWindow::deleteChosen);
    auto *deleteOlderButton = new QPushButton(QStringLiteral("Radera ä&ldre…"), this);
    deleteOlderButton->setObjectName(QStringLiteral("deleteOlderButton"));
    deleteOlderButton->setAccessibleName(QStringLiteral("Radera äldre händelser"));
    connect(deleteOlderButton, &QPushButton::clicked, this, &EventsWindow::deleteOlder);
    // The player before its output, so that the output outlives it.
    m_player = new QMediaPlayer(this);
    m_video = new QVideoWidget(this);
    m_video->setAccessibleName(QStringLiteral("Händelsens film"));
    m_player->setVideoOutput(m_video);
    m_view = new QStackedWidget(this);
    m_view->addWidget(m_picture);
    m_view->addWidget(m_video);
    m_playButton = new QPushButton(this);
    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("clipNote"));
    const auto showPlaying = [this](QMediaPlayer::PlaybackState state) {
        const bool playing = state == QMediaPlayer::PlayingState;
        m_playButton->setText(playing ? QStringLiteral("&Pausa") : QStringLiteral("S&pela upp"));
        m_playButton->setAccessibleName(
            playing ? QStringLiteral("Pausa filmen") : QStringLiteral("Spela upp filmen"));
    };
    showPlaying(QMediaPlayer::StoppedState);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, showPlaying);
    connect(m_playButton, &QPushButton::clicked, this, [this] {
        if (m_player->playbackState() == QMediaPlayer::PlayingState)
            m_player->pause();
        else
            m_player->play();
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this,
        [this](QMediaPlayer::Error, const QString &why) {
            qCWarning(lcWindow, "cannot play %s: %s",
                qUtf8Printable(m_player->source().toLocalFile()), qUtf8Printable(why));
            m_view->setCurrentWidget(m_picture);
            m_playButton->setEnabled(false);
            m_note->setText(QStringLiteral("Filmen går inte att spela upp."));
        });
    auto *folderButton = new QPushButton(QStringLiteral("&Öppna mappen"), this);
    folderButton->setObjectName(QStringLiteral("openFolderButton"));
    connect(folderButton, &QPushButton::clicked, this,
        [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder)); });
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(folderButton, QDialogButtonBox::ActionRole);
    buttons->addButton(
        new QPushButton(QStringLiteral("&Stäng"), this), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *deleting = new QHBoxLayout;
    deleting->addWidget(m_deleteButton);
    deleting->addWidget(deleteOlderButton);
    deleting->addStretch();
    auto *listed = new QVBoxLayout;
    listed->addWidget(m_list, 1);
    listed->addLayout(deleting);
    auto *clip = new QHBoxLayout;
    clip->addWidget(m_playButton);
    clip->addWidget(m_note, 1);
    auto *shown = new QVBoxLayout;
    shown->addWidget(m_view, 1);
    shown->addLayout(clip);
    auto *panes = new QHBoxLayout;
    panes->addLayout(listed, 1);
    panes->addLayout(shown, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(panes);
    layout->addWidget(buttons);
    connect(m_list, &QListWidget::currentRowChanged, this, &EventsWindow::showChosen);
    refresh();
}

void EventsWindow::refresh()
{
    const int chosen = m_list->currentRow();
    const std::size_t before = m_events.size();
    const QString chosenPicture = chosen >= 0 && std::size_t(chosen) < before
        ? m_events[std::size_t(chosen)].picture
        : QString();
    m_events = readLoggedEvents(m_folder);
    {
        // The chosen event is shown once the list is whole again, so that its clip plays on.
        const QSignalBlocker quiet(m_list);
        m_list->clear();
        for (const LoggedEvent &event : m_events) {
            const QString picture = fileIn(m_folder, event.picture);
            const bool there = !event.damaged && !picture.isEmpty() && QFile::exists(picture);
            auto *item = new QListWidgetItem(describe(event, there), m_list);
            // Each picture is read once, not at every new event.
            if (there) {
                auto icon = m_icons.find(event.picture);
                if (icon == m_icons.end())
                    icon = m_icons.insert(event.picture, QIcon(QPixmap(picture)));
                item->setIcon(*icon);
            }
        }
        // The same event stays chosen as newer ones come in above it and others go; a deleted
        // one leaves the next older chosen.
        const auto added = int(m_events.size()) - int(before);
        int row = chosen < 0 ? 0 : std::min(chosen + std::max(0, added), m_list->count() - 1);
        const auto same = std::find_if(
            m_events.begin(), m_events.end(), [&chosenPicture](const LoggedEvent &event) {
                return !chosenPicture.isEmpty() && event.picture == chosenPicture;
            });
        if (same != m_events.end())
            row = int(same - m_events.begin());
        m_list->setCurrentRow(row);
    }
    showChosen();
}

void EventsWindow::choose(const QString &picture)
{
    for (std::size_t row = 0; row < m_events.size(); ++row) {
        if (!m_events[row].damaged && m_events[row].picture == picture) {
            m_list->setCurrentRow(int(row));
            return;
        }
    }
}

void EventsWindow::showChosen()
{
    const int row = m_list->currentRow();
    m_deleteButton->setEnabled(row >= 0 && std::size_t(row) < m_events.size()
        && !m_events[std::size_t(row)].picture.isEmpty());
    if (row < 0 || std::size_t(row) >= m_events.size()) {
        showClip({});
        m_picture->clear();
        return;
    }
    const LoggedEvent &event = m_events[std::size_t(row)];
    showClip(event);
    m_whole = QPixmap(fileIn(m_folder, event.snapshot));
    if (m_whole.isNull())
        m_whole = QPixmap(fileIn(m_folder, event.picture));
    if (m_whole.isNull()) {
        m_picture->setText(event.damaged ? QStringLiteral("Raden gick inte att läsa.")
                                         : QStringLiteral("Bilden finns inte längre."));
        return;
    }
    fitPicture();
}

void EventsWindow::showClip(const LoggedEvent &event)
{
    const QString clip = fileIn(m_folder, event.clip);
    const bool there = !clip.isEmpty() && QFile::exists(clip);
    const QUrl source = there ? QUrl::fromLocalFile(clip) : QUrl();
    // Reading the list again leaves the clip playing.
    if (there && source == m_player->source())
        return;
    m_player->stop();
    m_player->setSource(source);
    m_view->setCurrentWidget(there ? static_cast<QWidget *>(m_video) : m_picture);
    m_playButton->setEnabled(there);
    // Without a clip named the picture says it all; a clip named may have been pruned.
    m_note->setText(event.clip.isEmpty() || there ? QString() : QStringLiteral("Filmen saknas."));
    if (there)
        m_player->play();
}

void EventsWindow::deleteChosen()
{
    const int row = m_list->currentRow();
    if (row < 0 || std::size_t(row) >= m_events.size())
        return;
    // The list may be read again while the question waits, so the event is copied.
    const LoggedEvent event = m_events[std::size_t(row)];
    if (event.picture.isEmpty())
        return;
    const QString when = QLocale().toString(event.start.toLocalTime(), QLocale::ShortFormat);
    if (m_ask(QStringLiteral("Radera händelsen från %1?").arg(when)))
        Q_EMIT deleteRequested({event.picture});
}

void EventsWindow::deleteOlder()
{
    const QDate day = askDay(this);
    if (!day.isValid())
        return;
    QStringList pictures;
    for (const LoggedEvent &event : m_events) {
        if (!event.picture.isEmpty() && event.start.toLocalTime().date() < day)
            pictures << event.picture;
    }
    const QString before = QLocale().toString(day, QLocale::ShortFormat);
    if (pictures.isEmpty()) {
        QMessageBox::information(
            this, QStringLiteral("Radera"), QStringLiteral("Inga händelser före %1.").arg(before));
        return;
    }
    const QString question = pictures.size() == 1
        ? QStringLiteral("Radera 1 händelse?")
        : QStringLiteral("Radera %1 händelser?").arg(pictures.size());
    if (m_ask(question))
        Q_EMIT deleteRequested(pictures);
}

void EventsWindow::fitPicture()
{
    if (!m_whole.isNull())
        m_picture->setPixmap(m_whole.scaled(
            m_picture->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void EventsWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    fitPicture();
}

void EventsWindow::hideEvent(QHideEvent *event)
{
    // Minimised, the clip waits where it was; closed, it ends.
    if (!event->spontaneous())
        m_player->stop();
    else if (m_player->playbackState() == QMediaPlayer::PlayingState)
        m_player->pause();
    QDialog::hideEvent(event);
}

} // namespace tirvel
