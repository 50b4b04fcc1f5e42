#include "command_line.h"
#include "event.h"
#include "main_window.h"
#include "program.h"
#include "test_main.h"
#include "watcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace tirvel;

// Tirvel built whole, as the program builds it, on the moving demo scene: what is checked here is
// that the parts reach each other, across their threads.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void watchingTheDemoSceneRecordsAnEventWithItsPicture()
    {
        QTemporaryDir frames;
        QTemporaryDir events;
        const CommandLine options = parseCommandLine(
            {"tirvel", "--camera", "test-scene", "--frames-from-camera", "--watch", "--directory",
                frames.path(), "--events", events.path()},
            QStringLiteral(COLORSUM_DIR));
        QCOMPARE(options.action, CommandLine::Action::Run);
        int beeps = 0;
        Program::Replacements replacements;
        replacements.beep = [&beeps] { ++beeps; };
        Program program(options, QStringLiteral(COLORSUM_DIR), std::move(replacements));
        QSignalSpy recorded(&program.watcher(), &Watcher::recorded);
        program.start();
        QTRY_VERIFY_WITH_TIMEOUT(program.window().windowTitle().contains("bevakar"), 2000);

        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 2, 15000);
        QCOMPARE(eventName(recorded.first().first().value<Event>().kind), "watch-on");
        const auto event = recorded.at(1).first().value<Event>();
        QCOMPARE(eventName(event.kind), "motion-start");
        QVERIFY(beeps > 0);
        // The picture reaches its hearers in memory, and is on disk as the log line names it.
        QFile picture(event.picturePath);
        QVERIFY(picture.open(QIODevice::ReadOnly));
        QCOMPARE(picture.readAll(), event.pictureBytes);
        QFile log(QDir(events.path()).filePath("events.jsonl"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains(event.pictureName.toUtf8()));
        // The scene still moves: the end of the program ends the event, in the log too.
        QVERIFY(program.end());
        QVERIFY(log.readAll().contains(R"("event":"motion-end")"));
    }
};

TIRVEL_TEST_MAIN(TestProgram)
#include "tst_program.moc"
