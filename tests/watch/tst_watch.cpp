#include "event_log.h"
#include "event_pictures.h"
#include "motion_events.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

using tirvel::EventLog;
using tirvel::EventPictures;
using tirvel::MotionEvents;

namespace {

constexpr qint64 GAP_MS = 10000;

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    // Steps as "D<count>@<ms>" (a detection), "C@<ms>" (a check for the gap) and "X@<ms>" (the
    // event closed at once: watching stopped, or the camera lost). What happened reads
    // "start" for an opened event and "end <highest>/<detections>" for a closed one.
    void grouping_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("happened");
        QTest::newRow("one detection")
            << QStringList {"D60@0", "C@9999", "C@10000"} << QStringList {"start", "end 60/1"};
        QTest::newRow("a run of detections is one event") << QStringList {"D60@0", "D80@1000",
            "D70@2000", "C@11999", "C@12000"} << QStringList {"start", "end 80/3"};
        QTest::newRow("a gap just under the event gap") << QStringList {"D60@0", "C@9999",
            "D61@9999", "C@19998", "C@19999"} << QStringList {"start", "end 61/2"};
        QTest::newRow("a gap just over the event gap") << QStringList {"D60@0", "C@10001",
            "D61@10001", "C@20001"} << QStringList {"start", "end 60/1", "start", "end 61/1"};
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
            if (step.startsWith('D') && events.detected(step.mid(1).section('@', 0, 0).toInt()))
                happened << QStringLiteral("start");
            else if (step.startsWith('C'))
                ended(events.expire());
            else if (step.startsWith('X'))
                ended(events.close());
        }
        QTEST(happened, "happened");
    }

    // Past the number to keep, only Tirvel's own oldest pictures go; a second's second picture
    // is newer than its first.
    void onlyTheOldestOwnPicturesGo()
    {
        QTemporaryDir dir;
        const QImage frame(8, 6, QImage::Format_RGB32);
        for (const char *name : {"20261207T130305Z.png", "notes.png", "20261207T130305Z.png.txt"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(dir.filePath("notes.png"), dir.filePath("20261207T120000Z.png")));
        EventPictures pictures(dir.path(), 2);
        const QDateTime time = QDateTime::fromString("2026-12-07T13:03:05Z", Qt::ISODate);
        QString problem;
        QCOMPARE(pictures.save(frame, frame, time, problem), "20261207T130305Z-2.png");
        QCOMPARE(pictures.save(frame, frame, time, problem), "20261207T130305Z-3.png");
        QVERIFY(problem.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System, QDir::Name),
            (QStringList {"20261207T120000Z.png", "20261207T130305Z-2.png",
                "20261207T130305Z-3.png", "20261207T130305Z.png.txt", "notes.png"}));
    }

    void logLinesAreWholeAndTheLogTurnsOver()
    {
        QTemporaryDir dir;
        EventLog log(dir.path());
        QFile full(log.path());
        QVERIFY(full.open(QIODevice::WriteOnly));
        QVERIFY(full.resize(EventLog::ROTATE_BYTES));
        full.close();
        QCOMPARE(log.append({{"event", "motion-start"}, {"count", 51}}), QString());
        QCOMPARE(log.append({{"event", "motion-end"}}), QString());
        QCOMPARE(QFileInfo(log.path() + ".1").size(), EventLog::ROTATE_BYTES);
        QFile fresh(log.path());
        QVERIFY(fresh.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = fresh.readAll().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(QJsonDocument::fromJson(lines.at(0))["count"].toInt(), 51);
        QCOMPARE(QJsonDocument::fromJson(lines.at(1))["event"].toString(), "motion-end");
        QCOMPARE(fresh.permissions() & 0x0077, 0);
    }
};

TIRVEL_TEST_MAIN(TestWatch)
#include "tst_watch.moc"
