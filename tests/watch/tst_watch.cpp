#include "event_store.h"
#include "frame_files.h"
#include "motion_events.h"
#include "test_main.h"
#include "watcher.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace tirvel;

namespace {

constexpr qint64 GAP_MS = 10000;

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps as "D<count>@<ms>" (a detection), "C@<ms>" (a check for the gap) and "X@<ms>" (the
    // event closed at once: watching stopped, or the camera lost). What happened reads
    // "start" for an opened event and "end <highest>/<detections>" for a closed one.
    void grouping_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("happened");
        // Q: a test that found nothing; a test half a second early still counts as after the gap.
        QTest::newRow("one detection") << QStringList {"D60@0", "Q@9499", "C@9499", "Q@9500",
            "C@9500"} << QStringList {"start", "end 60/1"};
        QTest::newRow("a run of detections is one event") << QStringList {"D60@0", "D80@1000",
            "D70@2000", "Q@11499", "C@11499", "Q@11500", "C@11500"}
                                                          << QStringList {"start", "end 80/3"};
        QTest::newRow("movement again just before the gap") << QStringList {"D60@0", "Q@9000",
            "C@9400", "D61@9400", "Q@18899", "C@18899", "Q@18900", "C@18900"}
                                                            << QStringList {"start", "end 61/2"};
        QTest::newRow("movement again after the gap")
            << QStringList {"D60@0", "Q@9500", "C@9500", "D61@10001", "Q@19501", "C@19501"}
            << QStringList {"start", "end 60/1", "start", "end 61/1"};
        QTest::newRow("a test late past the gap does not split unbroken movement")
            << QStringList {"D60@0", "C@10500", "D61@10600", "Q@20200", "C@20200"}
            << QStringList {"start", "end 61/2"};
        QTest::newRow("with no test at all, the event ends a while after the gap")
            << QStringList {"D60@0", "C@14999", "C@15000"} << QStringList {"start", "end 60/1"};
        QTest::newRow("camera lost or watching stopped during an event") << QStringList {"D60@0",
            "X@3000", "C@20000", "D70@21000"} << QStringList {"start", "end 60/1", "start"};
        QTest::newRow("closed with none open") << QStringList {"X@0", "C@20000"} << QStringList {};
    }

    void grouping()
    {
        QFETCH(QStringList, steps);
        qint64 now = 0;
        MotionEvents events([&now] { return now; }, GAP_MS);
        QStringList happened;
        const auto ended = [&](const std::optional<MotionEvents::Summary> &summary) {
            if (summary)
                happened << QStringLiteral("end %1/%2")
                                .arg(summary->highestCount)
                                .arg(summary->detections);
        };
        for (const QString &step : steps) {
            now = step.section('@', 1).toLongLong();
            if (step.startsWith('D')) {
                if (events.detected(step.mid(1).section('@', 0, 0).toInt()))
                    happened << QStringLiteral("start");
            } else if (step.startsWith('Q')) {
                events.quiet();
            } else if (step.startsWith('C')) {
                ended(events.expire());
            } else if (step.startsWith('X')) {
                ended(events.close());
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        QTEST(happened, "happened");
    }

    // Steps: "watch" and "unwatch", each until it is said; "ask" (watch, not waiting for the
    // event folder); "shared" (the event folder made writable by others); "show" and "hide" (the
    // camera's picture); "clock <ms>"; "tick" (5.bmp read); "test <count> <detected>" (a result
    // whose picture is the test's own); "fail" and "tickfail" (6.bmp or 5.bmp missing); "wait"
    // (for the watcher's timers). Then what the log holds, how many tests were asked for, how
    // many reports went out, whether a test's picture was handed on as the next 5.bmp, and how
    // often the window was told no camera picture has come yet.
    void watching_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<int>("testsWanted");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QString>("timedFrame");
        QTest::addColumn<int>("waiting");
        QTest::newRow("an event while the command runs waits its turn; watching switched is "
                      "logged and runs no command")
            << QStringList {"watch", "show", "test 60 1", "wait", "unwatch", "wait"}
            << QStringList {"watch-on", "motion-start", "motion-end", "watch-off"} << 0 << 0
            << "test" << 0;
        QTest::newRow("a showing camera's tick asks for a test")
            << QStringList {"watch", "show", "tick", "wait"} << QStringList {"watch-on"} << 1 << 0
            << "" << 0;
        QTest::newRow("a lost camera holds back tests")
            << QStringList {"watch", "hide", "clock 3000", "wait", "tick", "wait"}
            << QStringList {"watch-on", "camera-lost"} << 0 << 0 << "" << 0;
        QTest::newRow("a detection while the camera is lost opens no event")
            << QStringList {"watch", "hide", "clock 3000", "wait", "test 60 1", "wait"}
            << QStringList {"watch-on", "camera-lost"} << 0 << 0 << "test" << 0;
        QTest::newRow("a failing frame is reported once until it is read again")
            << QStringList {"watch", "show", "test 0 0", "fail", "fail", "test 0 0", "fail", "fail"}
            << QStringList {"watch-on"} << 0 << 2 << "test" << 0;
        QTest::newRow("not watching, every failing Test is reported and nothing is tested")
            << QStringList {"show", "tick", "fail", "fail", "wait", "test 60 1", "wait"}
            << QStringList {} << 0 << 2 << "" << 0;
        QTest::newRow("not watching, a failing timed frame is reported once until it is read")
            << QStringList {"tick", "tickfail", "tickfail", "tick", "tickfail"} << QStringList {}
            << 0 << 2 << "" << 0;
        QTest::newRow("a frame missing before the camera's first picture is said once, no report")
            << QStringList {"fail", "tickfail", "watch", "tickfail", "fail"}
            << QStringList {"watch-on"} << 0 << 0 << "" << 1;
        QTest::newRow("an event folder that cannot be used is said, and nothing is watched")
            << QStringList {"shared", "watch", "show", "tick", "wait"} << QStringList {} << 0 << 1
            << "" << 0;
        QTest::newRow("switched off before the event folder answers, nothing is watched")
            << QStringList {"ask", "unwatch", "show", "tick", "wait"} << QStringList {} << 0 << 0
            << "" << 0;
    }

    void watching()
    {
        QFETCH(QStringList, steps);
        QTemporaryDir frames;
        QTemporaryDir events;
        qint64 now = 0;
        const Clock clock = [&now] { return now; };
        WatchSettings settings;
        settings.eventGapSeconds = 10;
        settings.command = QStringList {"sleep", "30"};
        settings.ownCamera = true;
        settings.frames = framePaths(frames.path());
        EventStore store(events.path(), 10);
        Watcher watcher(settings, clock, store, nullptr);
        QSignalSpy timedFrames(&watcher, &Watcher::timedFrameDue);
        QSignalSpy wanted(&watcher, &Watcher::testWanted);
        QSignalSpy reports(&watcher, &Watcher::report);
        QSignalSpy switched(&watcher, &Watcher::watchingChanged);
        QSignalSpy waiting(&watcher, &Watcher::waitingForPicture);
        QImage testPicture(16, 12, QImage::Format_RGB32);
        testPicture.fill(Qt::darkGreen);
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            if (step == "watch" || step == "unwatch") {
                const qsizetype said = switched.size();
                watcher.setWatching(step == "watch");
                QTRY_COMPARE_WITH_TIMEOUT(switched.size(), said + 1, 2000);
            } else if (step == "ask")
                watcher.setWatching(true);
            else if (step == "shared")
                QCOMPARE(::chmod(QFile::encodeName(events.path()), 0777), 0);
            else if (step == "show" || step == "hide")
                watcher.cameraShowingChanged(step == "show");
            else if (words.first() == "clock")
                now = words.at(1).toLongLong();
            else if (step == "tick")
                watcher.ticked();
            else if (words.first() == "test")
                watcher.tested({words.at(1).toInt(), words.at(2) == "1", testPicture, testPicture,
                    testPicture, {}});
            else if (step == "fail" || step == "tickfail")
                watcher.testFailed(53, "File not found",
                    step == "fail" ? settings.frames.test : settings.frames.timed);
            else if (step == "wait")
                QTest::qWait(700);
            else
                QFAIL(qPrintable("unknown step " + step));
        }
        QTest::qWait(300);
        QStringList logged;
        QFile log(QDir(events.path()).filePath("events.jsonl"));
        if (log.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : log.readAll().split('\n')) {
                if (!line.isEmpty())
                    logged << QJsonDocument::fromJson(line)["event"].toString();
            }
        }
        QTEST(logged, "logged");
        QTEST(int(wanted.size()), "testsWanted");
        QTEST(int(reports.size()), "reports");
        // A frame's failure said once while watching keeps its number.
        for (const QList<QVariant> &report : std::as_const(reports))
            QVERIFY(report.at(0).toInt() > 0);
        QString timedFrame;
        if (!timedFrames.isEmpty())
            timedFrame = timedFrames.last().first().value<QImage>() == testPicture ? "test" : "?";
        QTEST(timedFrame, "timedFrame");
        QTEST(int(waiting.size()), "waiting");
    }
};

TIRVEL_TEST_MAIN(TestWatch)
#include "tst_watch.moc"
