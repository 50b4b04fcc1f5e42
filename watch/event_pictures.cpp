#include "event_pictures.h"

#include "clip_recorder.h"
#include "event_folder.h"
#include "report_once.h"
#include "whole_file.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tirvel {

namespace {

constexpr int SPACING = 4;
// Enough to read a face or a number plate the camera caught, at a tenth of the PNG's size.
constexpr int SNAPSHOT_QUALITY = 90;
// The cause under which a picture that cannot be saved is reported, whatever its name.
const QString PICTURES = QStringLiteral("event pictures");

std::uint64_t timeOf(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    return std::uint64_t(date.year() * 10000 + date.month() * 100 + date.day()) * 1000000
        + std::uint64_t(clock.hour() * 10000 + clock.minute() * 100 + clock.second());
}

bool readDigits(const char *text, int count, std::uint64_t &value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + std::uint64_t(text[i] - '0');
    }
    return true;
}

} // namespace

EventPictures::EventPictures(
    EventFolder &folder, int keep, ReportOnce &reports, std::function<void(const QString &)> note)
    : m_folder(folder)
    , m_reports(reports)
    , m_note(std::move(note))
    , m_keep(std::size_t(std::max(1, keep)))
{
}

QImage EventPictures::compose(const QImage &timed, const QImage &marked)
{
    QImage picture(timed.width() + SPACING + marked.width(),
        std::max(timed.height(), marked.height()), QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.drawImage(0, 0, timed);
    painter.drawImage(timed.width() + SPACING, 0, marked);
    return picture;
}

QByteArray EventPictures::encode(const QImage &timed, const QImage &marked)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    compose(timed, marked).save(&buffer, "PNG");
    return bytes;
}

QByteArray EventPictures::encodeSnapshot(const QImage &frame)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    frame.save(&buffer, "JPEG", SNAPSHOT_QUALITY);
    return bytes;
}

std::optional<EventPictures::Picture> EventPictures::parse(const char *name)
{
    Picture picture;
    std::uint64_t date = 0;
    std::uint64_t clock = 0;
    if (std::strlen(name) < 20 || !readDigits(name, 8, date) || name[8] != 'T'
        || !readDigits(name + 9, 6, clock) || name[15] != 'Z')
        return std::nullopt;
    const auto month = date / 100 % 100;
    const auto day = date % 100;
    if (month < 1 || month > 12 || day < 1 || day > 31 || clock / 10000 > 23
        || clock / 100 % 100 > 59 || clock % 100 > 60)
        return std::nullopt;
    picture.time = date * 1000000 + clock;
    const char *rest = name + 16;
    if (*rest == '-') {
        // -2, -3 …: never -1, never a leading zero.
        const char *digits = ++rest;
        std::uint64_t number = 0;
        while (*rest >= '0' && *rest <= '9' && rest - digits < 9)
            number = number * 10 + std::uint64_t(*rest++ - '0');
        if (*digits == '0' || number < 2)
            return std::nullopt;
        picture.number = std::uint32_t(number);
    }
    if (std::strcmp(rest, ".png") != 0)
        return std::nullopt;
    return picture;
}

std::optional<EventPictures::Owner> EventPictures::ownerOf(std::string name)
{
    // A camera frame is known by its picture's name with .jpg, a clip by it with .webm, or .2.webm,
    // .3.webm … for the later parts of a long event.
    const auto chop = [&name](const char *ending) {
        const std::size_t length = std::strlen(ending);
        const bool ends
            = name.size() > length && name.compare(name.size() - length, length, ending) == 0;
        if (ends)
            name.resize(name.size() - length);
        return ends;
    };
    Owner owner;
    if (chop(".jpg")) {
        owner.frame = true;
    } else if (chop(".webm")) {
        owner.part = 1;
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot + 1 < name.size() && dot + 5 > name.size()
            && name.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
            owner.part = std::stoi(name.substr(dot + 1));
            name.resize(dot);
        }
    } else if (!chop(".png")) {
        return std::nullopt;
    }
    owner.picture = name + ".png";
    return owner;
}

QString EventPictures::nameOf(const Picture &picture, const char *ending)
{
    QString name = QString::asprintf("%08lluT%06lluZ",
        static_cast<unsigned long long>(picture.time / 1000000),
        static_cast<unsigned long long>(picture.time % 1000000));
    if (picture.number > 1)
        name += QLatin1Char('-') + QString::number(picture.number);
    return name + QLatin1String(ending);
}

void EventPictures::prepare()
{
    if (m_generation == m_folder.generation())
        return;
    m_generation = m_folder.generation();
    // Pictures, camera frames and clips whose writing a crash cut off.
    removeLeftovers(m_folder.descriptor(), [](const QByteArray &target) {
        const auto owner = ownerOf(target.toStdString());
        return owner && parse(owner->picture.c_str());
    });
    m_pictures.clear();
    const int listing = ::openat(m_folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    const std::uint64_t now = timeOf(QDateTime::currentDateTimeUtc());
    std::vector<Picture> found;
    std::vector<Picture> frames;
    int future = 0;
    const auto sizeOf = [&entries](const char *name) -> std::uint64_t {
        struct stat status = {};
        return ::fstatat(::dirfd(entries), name, &status, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(status.st_mode)
            ? std::uint64_t(status.st_size)
            : 0;
    };
    const auto earlier = [](const Picture &a, const Picture &b) {
        return a.time < b.time || (a.time == b.time && a.number < b.number);
    };
    while (const dirent *entry = ::readdir(entries)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        const auto owner = ownerOf(entry->d_name);
        if (!owner)
            continue;
        const bool frame = owner->frame;
        const int clip = owner->part;
        auto picture = parse(owner->picture.c_str());
        if (picture && picture->time > now) {
            future += frame || clip > 0 ? 0 : 1;
        } else if (picture) {
            picture->bytes = sizeOf(entry->d_name);
            if (clip > 0)
                picture->clips.emplace_back(clip, picture->bytes);
            (frame || clip > 0 ? frames : found).push_back(*picture);
        }
    }
    std::sort(found.begin(), found.end(), earlier);
    for (const Picture &frame : frames) {
        const auto at = std::lower_bound(found.begin(), found.end(), frame, earlier);
        if (at != found.end() && !earlier(frame, *at)) {
            at->bytes += frame.bytes;
            at->clips.insert(at->clips.end(), frame.clips.begin(), frame.clips.end());
            std::sort(at->clips.begin(), at->clips.end());
        }
    }
    ::closedir(entries);
    m_pictures.assign(found.begin(), found.end());
    m_bytes = 0;
    for (const Picture &picture : m_pictures)
        m_bytes += picture.bytes;
    if (future > 0 && m_note)
        m_note(QStringLiteral("%1 pictures in '%2' are named after a time later than this "
                              "computer's clock now (%3 UTC); pruning leaves them alone.")
                   .arg(future)
                   .arg(m_folder.place(),
                       QDateTime::currentDateTimeUtc().toString(Qt::ISODate).chopped(1)));
}

QString EventPictures::save(const QByteArray &png, const QDateTime &time)
{
    prepare();
    const int folder = m_folder.descriptor();
    Picture picture;
    picture.time = timeOf(time);
    QString name = nameOf(picture);
    for (struct stat status = {};
         ::fstatat(folder, QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
         name = nameOf(picture)) {
        if (!S_ISREG(status.st_mode))
            m_reports.failed(m_folder.filePath(name),
                QStringLiteral("'%1' is %2, not a picture of Tirvel's; it is left alone.")
                    .arg(m_folder.filePath(name), EventFolder::oddity(status.st_mode)));
        ++picture.number;
    }
    const QString problem = m_folder.storeWhole(name, png, &picture.inode);
    if (!problem.isEmpty()) {
        m_reports.failed(PICTURES,
            QStringLiteral("Cannot save the event's picture '%1': %2")
                .arg(m_folder.filePath(name), problem));
        return {};
    }
    m_reports.written(PICTURES);
    picture.bytes = std::uint64_t(png.size());
    m_bytes += picture.bytes;
    m_pictures.push_back(picture);
    return name;
}

QString EventPictures::saveSnapshot(const QByteArray &jpeg)
{
    if (m_pictures.empty())
        return {};
    Picture &picture = m_pictures.back();
    QString name = nameOf(picture, ".jpg");
    const QString problem = m_folder.storeWhole(name, jpeg, &picture.snapshotInode);
    if (!problem.isEmpty()) {
        m_reports.failed(PICTURES,
            QStringLiteral("Cannot save the camera's picture '%1': %2")
                .arg(m_folder.filePath(name), problem));
        return {};
    }
    picture.bytes += std::uint64_t(jpeg.size());
    m_bytes += std::uint64_t(jpeg.size());
    return name;
}

bool EventPictures::addClip(const QString &picture, int part, std::uint64_t bytes)
{
    const auto kept = std::find_if(m_pictures.rbegin(), m_pictures.rend(),
        [&picture](const Picture &each) { return nameOf(each) == picture; });
    if (kept == m_pictures.rend())
        return false;
    kept->clips.emplace_back(part, bytes);
    std::sort(kept->clips.begin(), kept->clips.end());
    kept->bytes += bytes;
    m_bytes += bytes;
    return true;
}

void EventPictures::forget(const QStringList &pictures)
{
    for (auto picture = m_pictures.begin(); picture != m_pictures.end();) {
        if (pictures.contains(nameOf(*picture))) {
            removeAll(*picture);
            m_bytes -= std::min(m_bytes, picture->bytes);
            picture = m_pictures.erase(picture);
        } else {
            ++picture;
        }
    }
}

void EventPictures::remove(const QString &name, ino_t inode) const
{
    const QByteArray file = QFile::encodeName(name);
    struct stat status = {};
    if (::fstatat(m_folder.descriptor(), file.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid()
        && (inode == 0 || inode == status.st_ino))
        ::unlinkat(m_folder.descriptor(), file.constData(), 0);
}

void EventPictures::setPendingBytes(std::uint64_t bytes)
{
    m_pendingBytes = bytes;
}

void EventPictures::release(const QString &picture)
{
    const auto hold = m_holds.find(picture);
    if (hold != m_holds.end() && --hold.value() <= 0)
        m_holds.erase(hold);
}

bool EventPictures::held(const Picture &picture) const
{
    return !m_holds.isEmpty() && m_holds.contains(nameOf(picture));
}

bool EventPictures::prune(std::chrono::milliseconds budget)
{
    QElapsedTimer spent;
    spent.start();
    const auto over = [this] { return m_keepBytes > 0 && m_bytes + m_pendingBytes > m_keepBytes; };
    // The newest is never pruned; held ones are passed over and still count.
    std::size_t at = 0;
    while (at + 1 < m_pictures.size() && (m_pictures.size() > m_keep || over())) {
        if (held(m_pictures[at])) {
            ++at;
            continue;
        }
        if (spent.hasExpired(budget.count()))
            return true;
        const Picture oldest = m_pictures[at];
        m_pictures.erase(m_pictures.begin() + std::ptrdiff_t(at));
        m_bytes -= std::min(m_bytes, oldest.bytes);
        removeAll(oldest);
    }
    // An event longer than the bytes allow keeps the newest parts of its clip.
    if (m_pictures.empty())
        return false;
    Picture &newest = m_pictures.back();
    while (over() && newest.clips.size() > 1) {
        const auto [part, bytes] = newest.clips.front();
        newest.clips.erase(newest.clips.begin());
        remove(ClipRecorder::nameOf(nameOf(newest, ""), part), 0);
        newest.bytes -= std::min(newest.bytes, bytes);
        m_bytes -= std::min(m_bytes, bytes);
    }
    return false;
}

void EventPictures::removeAll(const Picture &picture) const
{
    remove(nameOf(picture), picture.inode);
    // Its camera frame goes with it; one found on disk is known only by its name, as the
    // picture is, and a picture written without one has none to take along.
    if (picture.inode == 0 || picture.snapshotInode != 0)
        remove(nameOf(picture, ".jpg"), picture.snapshotInode);
    // Clips are written by the encoder, not through the folder, and known by name alone.
    for (const auto &[part, bytes] : picture.clips)
        remove(ClipRecorder::nameOf(nameOf(picture, ""), part), 0);
}

} // namespace tirvel
