#include "clip_recorder.h"
#include "event_folder.h"
#include "event_log.h"
#include "event_pictures.h"
#include "event_store.h"
#include "mount_namespace.h"
#include "test_main.h"
#include "worker_thread.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tirvel;

namespace {

// The pictures of a folder of their own, with no store around them.
struct LoosePictures
{
    explicit LoosePictures(int keep)
        : pictures(folder, keep, reports)
    {
    }
    QTemporaryDir root;
    ReportOnce reports {[](const QString &) {}};
    EventFolder folder {root.path(), reports};
    EventPictures pictures;
};

} // namespace

// The event folder as a user's mishaps or another user's tricks leave it, with the store on a
// thread of its own as the program runs it; every event must be stored within two seconds.
class TestEventStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps: "fifo NAME", "file NAME", "dir NAME", "full NAME" (as long as the log grows before
    // it turns over), "link NAME" (to a file outside), "second NAME" (another name of notes.png),
    // "replace NAME" (the file outside renamed over it);
    // "picture <yyyyMMddThhmmssZ>" (a motion-start then), "snapshot <…>" (one with the camera's
    // frame too), "line" (an event without a picture), "bytes N" (pictures bounded to N bytes),
    // "forget <…>" (that event deleted), "logged EVENT" (a line of a run before), "open" (watching
    // starts);
    // the folder "removed", "moved", "opened" (moved, and a folder others can write put in its
    // place) or "taken" (moved, and another user's put there). Then what the folder's name holds,
    // the log's lines, the reports, and what the first says.
    void storing_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("keep");
        QTest::addColumn<QStringList>("holds");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QString>("said");
        const QString t0 = "20240101T120000Z";
        const QString t1 = "20240101T120001Z";
        QTest::newRow("a pipe at the log holds nothing up")
            << QStringList {"fifo events.jsonl", "picture " + t0, "picture " + t1} << 10
            << QStringList {t0 + ".png", t1 + ".png", "events.jsonl"} << 0 << 1 << "named pipe";
        QTest::newRow("a pipe at a picture's name is left alone")
            << QStringList {"fifo " + t0 + ".png", "picture " + t0, "picture " + t0} << 10
            << QStringList {t0 + "-2.png", t0 + "-3.png", t0 + ".png", "events.jsonl"} << 2 << 1
            << "named pipe";
        QTest::newRow("a link at the log is said once")
            << QStringList {"link events.jsonl", "line", "line", "line"} << 10
            << QStringList {"events.jsonl"} << 0 << 1 << "symbolic link";
        QTest::newRow("a full log turns over")
            << QStringList {"full events.jsonl", "line", "line"} << 10
            << QStringList {"events.jsonl", "events.jsonl.1"} << 2 << 0 << "";
        QTest::newRow("a log that cannot turn over keeps its lines")
            << QStringList {"full events.jsonl", "dir events.jsonl.1", "line", "line"} << 10
            << QStringList {"events.jsonl", "events.jsonl.1"} << 2 << 1 << "events.jsonl.1'";
        QTest::newRow(
            "only the oldest of Tirvel's own pictures go, never a second name or a near one")
            << QStringList {"file " + t0 + ".png", "file notes.png", "file " + t0 + ".png.txt",
                   "file 20241301T080000Z.png", "link 20240101T100000Z.png",
                   "second 20240101T090000Z.png", "picture " + t0, "picture " + t0}
            << 2
            << QStringList {"20240101T090000Z.png", "20240101T100000Z.png", t0 + "-2.png",
                   t0 + "-3.png", t0 + ".png.txt", "20241301T080000Z.png", "events.jsonl",
                   "notes.png"}
            << 2 << 0 << "";
        QTest::newRow("a file put in place of one of Tirvel's pictures is not pruned as it")
            << QStringList {"picture " + t0, "replace " + t0 + ".png", "picture " + t1} << 1
            << QStringList {t0 + ".png", t1 + ".png", "events.jsonl"} << 2 << 0 << "";
        QTest::newRow("pictures named in the future are kept, and said once")
            << QStringList {"file 20991231T000000Z.png", "file 20991231T000001Z.png",
                   "picture 20240101T120001Z", "picture 20240101T120002Z",
                   "picture 20240101T120003Z", "picture 20240101T120004Z"}
            << 2
            << QStringList {"20240101T120003Z.png", "20240101T120004Z.png", "20991231T000000Z.png",
                   "20991231T000001Z.png", "events.jsonl"}
            << 4 << 1 << "later than this computer's clock";
        QTest::newRow("the camera's frame is kept beside its picture and pruned with it")
            << QStringList {"snapshot " + t0, "snapshot " + t1} << 1
            << QStringList {t1 + ".jpg", t1 + ".png", "events.jsonl"} << 2 << 0 << "";
        QTest::newRow("past the bytes to keep, the oldest go with their frames, found or written")
            << QStringList {"file 20240101T110000Z.png", "file 20240101T110000Z.jpg", "bytes 1",
                   "snapshot " + t0, "picture " + t1}
            << 10 << QStringList {t1 + ".png", "events.jsonl"} << 2 << 0 << "";
        QTest::newRow("clips go with their pictures, pruned or deleted; a half-written one at once")
            << QStringList {"file 20240101T110000Z.png", "file 20240101T110000Z.webm",
                   "file 20240101T110000Z.2.webm", "file " + t0 + ".png", "file " + t0 + ".webm",
                   "file ." + t0 + ".webm.part", "picture " + t1, "forget " + t0}
            << 2 << QStringList {t1 + ".png", "events.jsonl"} << 2 << 0 << "";
        QTest::newRow("a start removes what a crash left and ends the event it cut off")
            << QStringList {"file ." + t0 + ".png.k2j3ab", "file ." + t0 + ".jpg.zz9",
                   "file .notes.png.k2j3ab", "logged watch-on", "logged motion-start", "open",
                   "picture " + t1}
            << 10 << QStringList {".notes.png.k2j3ab", t1 + ".png", "events.jsonl"} << 4 << 0 << "";
        QTest::newRow("a removed folder is made again")
            << QStringList {"picture " + t0, "removed", "picture " + t1} << 10
            << QStringList {t1 + ".png", "events.jsonl"} << 1 << 1 << "removed";
        QTest::newRow("a moved folder's name is made again")
            << QStringList {"picture " + t0, "moved", "picture " + t1} << 10
            << QStringList {t1 + ".png", "events.jsonl"} << 1 << 1 << "moved";
        QTest::newRow("a folder others can write in its place is never written to")
            << QStringList {"picture " + t0, "opened", "picture " + t1, "line"} << 10
            << QStringList {} << 0 << 1 << "written by other users";
        QTest::newRow("another user's folder in its place is never written to")
            << QStringList {"picture " + t0, "taken", "picture " + t1, "line"} << 10
            << QStringList {} << 0 << 1 << "belongs to another user";
    }

    void storing()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, keep);
        if (steps.contains("taken") && ::geteuid() != 0)
            QSKIP("acting as another user needs root");
        QTemporaryDir root;
        const QString path = root.filePath("events");
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(::mkdir(name, 0700), 0);
        QVERIFY(QFile(root.filePath("outside")).open(QIODevice::WriteOnly));
        QImage frame(8, 6, QImage::Format_RGB32);
        frame.fill(Qt::darkGreen);
        WorkerThread files(QStringLiteral("files"));
        auto *store = files.adopt(new EventStore(path, keep));
        QSignalSpy stored(store, &EventStore::stored);
        QSignalSpy reports(store, &EventStore::failed);
        QSignalSpy notes(store, &EventStore::noted);
        bool picturesThere = true;
        connect(
            store, &EventStore::stored, store,
            [&](const Event &event) {
                picturesThere = picturesThere
                    && (event.picturePath.isEmpty() || QFile::exists(event.picturePath));
            },
            Qt::DirectConnection);
        files.start();
        // A store stuck opening a pipe is let go by a reader, so that the thread can end.
        const auto release = qScopeGuard([&] {
            const int reader = ::open(name + "/events.jsonl", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            files.stop(2000);
            ::close(reader);
        });
        for (const QString &step : steps) {
            const QString word = step.section(' ', 0, 0);
            const QByteArray at = name + '/' + QFile::encodeName(step.section(' ', 1));
            QFile file(QFile::decodeName(at));
            if (word == "fifo")
                QCOMPARE(::mkfifo(at, 0600), 0);
            else if (word == "file" || word == "full")
                QVERIFY(file.open(QIODevice::WriteOnly)
                    && file.resize(word == "full" ? EventLog::ROTATE_BYTES : 0)
                    && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            else if (word == "dir")
                QCOMPARE(::mkdir(at, 0700), 0);
            else if (word == "bytes")
                QMetaObject::invokeMethod(
                    store, [store, bytes = step.section(' ', 1).toULongLong()] {
                        store->setKeepBytes(bytes);
                    });
            else if (word == "logged") {
                QFile log(path + "/events.jsonl");
                QVERIFY(log.open(QIODevice::Append)
                    && log.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                    && log.write("{\"event\":\"" + step.section(' ', 1).toUtf8()
                           + "\",\"time\":\"2024-01-01T11:00:00Z\"}\n")
                        > 0);
            } else if (word == "open") {
                QSignalSpy opened(store, &EventStore::folderOpened);
                QMetaObject::invokeMethod(store, [store] { store->openFolder(); });
                QVERIFY(opened.wait(2000));
            } else if (word == "forget") {
                QSignalSpy forgotten(store, &EventStore::forgotten);
                QMetaObject::invokeMethod(store,
                    [store, picture = step.section(' ', 1) + ".png"] { store->forget({picture}); });
                QVERIFY(forgotten.wait(2000));
            } else if (word == "link")
                QVERIFY(QFile::link(root.filePath("outside"), file.fileName()));
            else if (word == "second")
                QCOMPARE(::link(name + "/notes.png", at), 0);
            else if (word == "replace")
                QCOMPARE(::rename(QFile::encodeName(root.filePath("outside")), at), 0);
            else if (word == "removed")
                QVERIFY(QDir(path).removeRecursively());
            else if (word == "moved" || word == "opened" || word == "taken") {
                QCOMPARE(::rename(name, name + ".old"), 0);
                if (word == "opened")
                    QVERIFY(::mkdir(name, 0777) == 0 && ::chmod(name, 0777) == 0);
                if (word == "taken") {
                    QCOMPARE(::chmod(QFile::encodeName(root.path()), 0777), 0);
                    QCOMPARE(QProcess::execute("setpriv",
                                 {"--reuid", "4243", "--regid", "4243", "--clear-groups", "mkdir",
                                     "-m", "777", path}),
                        0);
                }
            } else if (word == "picture" || word == "snapshot" || word == "line") {
                Event event;
                event.kind = word == "line" ? EventKind::MotionEnd : EventKind::MotionStart;
                event.time = QDateTime::currentDateTimeUtc();
                if (word == "snapshot")
                    event.snapshot = frame;
                if (word != "line") {
                    event.time
                        = QDateTime::fromString(step.section(' ', 1), "yyyyMMdd'T'HHmmss'Z'");
                    event.time.setTimeSpec(Qt::UTC);
                    event.timed = event.marked = frame;
                }
                const qsizetype sent = stored.size() + 1;
                QMetaObject::invokeMethod(store, [store, event] { store->store(event); });
                QTRY_COMPARE_WITH_TIMEOUT(stored.size(), sent, 2000);
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        // Pruning follows the last line.
        QMetaObject::invokeMethod(
            store, [] {}, Qt::BlockingQueuedConnection);
        reports.append(notes);
        QTEST(
            QDir(path).entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
            "holds");
        QFile log(path + "/events.jsonl");
        QTEST(
            QFileInfo(log).isFile() && !QFileInfo(log).isSymLink() && log.open(QIODevice::ReadOnly)
                ? int(log.readAll().count('\n'))
                : 0,
            "lines");
        QTEST(int(reports.size()), "reports");
        QFETCH(QString, said);
        QVERIFY2(reports.isEmpty() || reports.first().first().toString().contains(said),
            qPrintable(reports.value(0).value(0).toString()));
        QVERIFY(picturesThere);
        // Whatever Tirvel made is private; another's folder in its place is left as it was.
        const auto shared = [](const QString &file) {
            struct stat status = {};
            return ::lstat(QFile::encodeName(file), &status) == 0 && !S_ISLNK(status.st_mode)
                ? status.st_mode & 077
                : 0;
        };
        QCOMPARE(shared(log.fileName()), 0u);
        QCOMPARE(shared(path), steps.contains("opened") || steps.contains("taken") ? 077u : 0u);
    }

    // An event longer than the bytes allow loses the oldest parts of its clip, never its
    // picture or its newest part; a clip being written counts against the bytes.
    void aLongEventKeepsTheNewestPartsOfItsClip()
    {
        LoosePictures loose(10);
        QVERIFY(loose.folder.reach());
        EventPictures &pictures = loose.pictures;
        const QTemporaryDir &root = loose.root;
        pictures.setKeepBytes(250);
        const QString picture = pictures.save("png", QDateTime::currentDateTimeUtc());
        for (int part = 1; part <= 4; ++part) {
            QFile clip(root.filePath(ClipRecorder::nameOf(picture.chopped(4), part)));
            QVERIFY(clip.open(QIODevice::WriteOnly) && clip.write(QByteArray(100, 'v')) == 100);
            clip.close();
            QVERIFY(pictures.addClip(picture, part, 100));
        }
        QVERIFY(!pictures.prune(std::chrono::hours(1)));
        const QString base = picture.chopped(4);
        QCOMPARE(QDir(root.path()).entryList(QDir::Files, QDir::Name),
            QStringList({base + ".3.webm", base + ".4.webm", picture}));
        // A clip still being written counts too: the older event goes to make room for it.
        const QString next = pictures.save("png", QDateTime::currentDateTimeUtc().addSecs(1));
        pictures.setPendingBytes(200);
        pictures.prune(std::chrono::hours(1));
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList({next}));
    }

    // A picture held for a command is passed over, not waited for, until its hold is released.
    void aHeldPictureOutlivesItsHold()
    {
        LoosePictures loose(1);
        QVERIFY(loose.folder.reach());
        EventPictures &pictures = loose.pictures;
        const QTemporaryDir &root = loose.root;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString held = pictures.save("png", now);
        pictures.hold(held);
        pictures.save("png", now.addSecs(1));
        const QString newest = pictures.save("png", now.addSecs(2));
        pictures.prune(std::chrono::hours(1));
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList({held, newest}));
        pictures.release(held);
        pictures.prune(std::chrono::hours(1));
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList({newest}));
    }

    // An event's lines are written before a backlog is pruned, and an end asked for meanwhile
    // comes before the rest of it.
    void theRecordComesBeforePruning()
    {
        QTemporaryDir root;
        constexpr int BACKLOG = 3000;
        for (int old = 0; old < BACKLOG; ++old) {
            QFile file(root.filePath(QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)
                                         .addSecs(old)
                                         .toString("yyyyMMdd'T'HHmmss'Z'.png")));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        WorkerThread files(QStringLiteral("files"));
        auto *store = files.adopt(new EventStore(root.path(), 10));
        store->setPruneSlice(std::chrono::milliseconds(0));
        QSignalSpy opened(store, &EventStore::folderOpened);
        files.start();
        QMetaObject::invokeMethod(store, [store] { store->openFolder(); });
        QVERIFY(opened.wait(2000));
        Event start;
        start.time = QDateTime::currentDateTimeUtc();
        start.timed = start.marked = QImage(8, 6, QImage::Format_RGB32);
        Event end = start;
        end.kind = EventKind::MotionEnd;
        end.timed = end.marked = {};
        QMetaObject::invokeMethod(store, [store, start] { store->store(start); });
        QMetaObject::invokeMethod(store, [store, end] { store->store(end); });
        QVERIFY(files.stop(2000));
        QFile log(root.filePath("events.jsonl"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count('\n'), 2);
        QVERIFY(QDir(root.path()).entryList({"*.png"}).size() > BACKLOG / 2);
    }

    // A line cut short by a full disk is taken back, so the log holds whole lines only. The small
    // disk comes from a mount namespace that ctest's `unshare --mount` made for this run.
    void aLineCutShortByAFullDiskIsTakenBack()
    {
        if (!tirvel::testing::inOwnMountNamespace())
            QSKIP("not in a mount namespace of its own");
        QTemporaryDir root;
        const QByteArray disk = QFile::encodeName(root.path());
        QCOMPARE(::mount("tirvel-test", disk, "tmpfs", 0, "size=64k,mode=0700"), 0);
        const auto unmount = qScopeGuard([&] { ::umount2(disk, MNT_DETACH); });
        // All but the page the log begins in.
        QFile filler(root.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        constexpr qsizetype ALL_BUT_A_PAGE = qsizetype(15) * 4096;
        QCOMPARE(filler.write(QByteArray(ALL_BUT_A_PAGE, 'x')), ALL_BUT_A_PAGE);
        filler.close();
        EventStore store(root.filePath("events"), 10);
        QSignalSpy reports(&store, &EventStore::failed);
        Event event;
        event.kind = EventKind::MotionEnd;
        event.time = QDateTime::currentDateTimeUtc();
        for (int line = 0; line < 1000 && reports.isEmpty(); ++line)
            store.store(event);
        QVERIFY(!reports.isEmpty());
        QFile log(root.filePath("events/events.jsonl"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray lines = log.readAll();
        QVERIFY(lines.endsWith('\n'));
        QVERIFY(QJsonDocument::fromJson(lines.split('\n').value(lines.count('\n') - 1)).isObject());
    }

    // A nearly full disk is said as the folder opens, and not again while it stays so.
    void aNearlyFullDiskIsSaidOnce()
    {
        if (!tirvel::testing::inOwnMountNamespace())
            QSKIP("not in a mount namespace of its own");
        QTemporaryDir root;
        const QByteArray disk = QFile::encodeName(root.path());
        QCOMPARE(::mount("tirvel-test", disk, "tmpfs", 0, "size=1m,mode=0700"), 0);
        const auto unmount = qScopeGuard([&] { ::umount2(disk, MNT_DETACH); });
        EventStore store(root.filePath("events"), 10);
        QSignalSpy space(&store, &EventStore::diskSpaceChanged);
        store.openFolder();
        Event event;
        event.kind = EventKind::MotionEnd;
        event.time = QDateTime::currentDateTimeUtc();
        store.store(event);
        store.store(event);
        QCOMPARE(space.size(), 1);
        QCOMPARE(space.first().first().toBool(), true);
        QVERIFY(space.first().at(1).toLongLong() <= qint64(1024) * 1024);
    }
};

TIRVEL_TEST_MAIN(TestEventStore)
#include "tst_event_store.moc"
