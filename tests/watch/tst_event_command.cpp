#include "event_command.h"
#include "test_main.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace tirvel;

namespace {

QStringList linesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
        : QStringList {};
}

// A zombie has ended, whoever is left to reap it.
bool stillRuns(const QString &pid)
{
    QFile stat("/proc/" + pid + "/stat");
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

} // namespace

// The --on-event command run as a service manager would run it.
class TestEventCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row's script runs through sh as the command, `runs` times, with TIRVEL_EVENT 1, 2, …
    // and OUT and PIDS naming files of the test's own, under a time limit of limitMs (0 for the
    // program's) with as long again before SIGKILL; then it is waited for, or ended as Tirvel
    // ends. Then what OUT holds, how many processes named in PIDS still run, each count of
    // dropped events said, and how many commands ran out of time.
    void commands_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("runs");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<int>("running");
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<int>("timedOut");
        QTest::newRow("a command that reads its input goes on at once")
            << "cat; echo read >>\"$OUT\"" << 1 << false << QStringList {"read"} << 0 << "" << 0
            << 0;
        QTest::newRow("what a finished command leaves running is ended")
            << "sleep 60 & echo $! >>\"$PIDS\"; echo left >>\"$OUT\"" << 1 << false
            << QStringList {"left"} << 0 << "" << 0 << 0;
        QTest::newRow("a command ended as Tirvel ends takes its children along")
            << "sleep 60 & echo $! >>\"$PIDS\"; echo waits >>\"$OUT\"; wait" << 1 << true
            << QStringList {"waits"} << 0 << "" << 0 << 0;
        QStringList sixteenWait;
        for (int event = 1; event <= 1 + EventCommand::QUEUE_LENGTH; ++event)
            sixteenWait << QString::number(event);
        QTest::newRow("events while a command runs wait their turn, and only the rest are dropped")
            << "echo $TIRVEL_EVENT >>\"$OUT\"; sleep 0.1" << EventCommand::QUEUE_LENGTH + 3 << false
            << sixteenWait << 0 << "2" << 0 << 0;
        QTest::newRow("nothing of Tirvel's reaches it but its output")
            << "exec >>\"$OUT\"; ls /proc/$$/fd; echo ${TIRVEL_MQTT_PASSWORD-none}" << 1 << false
            << QStringList {"0", "1", "2", "none"} << 0 << "" << 0 << 0;
        QTest::newRow("a command deaf to SIGTERM is killed at its limit, and the next one runs")
            << "trap '' TERM; echo $$ >>\"$PIDS\"; echo $TIRVEL_EVENT >>\"$OUT\"; "
               "[ $TIRVEL_EVENT = 2 ] || { sleep 60 & echo $! >>\"$PIDS\"; wait; }"
            << 2 << false << QStringList {"1", "2"} << 0 << "" << 300 << 1;
    }

    void commands()
    {
        QFETCH(QString, script);
        QFETCH(int, runs);
        QTemporaryDir dir;
        // As a library might leave one.
        const int planted = ::open("/dev/null", O_RDONLY);
        QFETCH(int, limitMs);
        EventCommand::Timing timing;
        if (limitMs > 0)
            timing = {limitMs, limitMs};
        EventCommand command({"sh", "-c", script}, timing);
        QSignalSpy dropped(&command, &EventCommand::dropped);
        QSignalSpy timedOut(&command, &EventCommand::timedOut);
        QSignalSpy done(&command, &EventCommand::done);
        QStringList accepted;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OUT", dir.filePath("out"));
        environment.insert("PIDS", dir.filePath("pids"));
        environment.insert("TIRVEL_MQTT_PASSWORD", "secret");
        const auto cleanUp = qScopeGuard([&] {
            for (const QString &pid : linesOf(dir.filePath("pids")))
                ::kill(pid.toInt(), SIGKILL);
            ::close(planted);
        });
        for (int event = 1; event <= runs; ++event) {
            environment.insert("TIRVEL_EVENT", QString::number(event));
            if (command.run(environment, QString::number(event)))
                accepted << QString::number(event);
        }
        QFETCH(QStringList, out);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(dir.filePath("out")), out, 10000);
        QFETCH(bool, ended);
        if (ended) {
            // Its picture is still needed while it runs.
            QCOMPARE(done.size(), 0);
            command.end();
        }
        // Every run accepted gives its key back, once.
        QTRY_COMPARE_WITH_TIMEOUT(int(done.size()), int(accepted.size()), 5000);
        QStringList given;
        for (const QList<QVariant> &signal : std::as_const(done))
            given << signal.value(0).toString();
        given.sort();
        accepted.sort();
        QCOMPARE(given, accepted);
        const QStringList pids = linesOf(dir.filePath("pids"));
        QFETCH(int, running);
        QTRY_COMPARE_WITH_TIMEOUT(
            int(std::count_if(pids.begin(), pids.end(), stillRuns)), running, 5000);
        QStringList droppedEvents;
        for (const QList<QVariant> &signal : std::as_const(dropped))
            droppedEvents << signal.value(0).toString();
        QTEST(droppedEvents.join(' '), "dropped");
        QTEST(int(timedOut.size()), "timedOut");
    }

    // A failing command is said once, and again only after one has succeeded since.
    void aFailureIsSaidOnceUntilOneSucceeds()
    {
        QTemporaryDir dir;
        EventCommand command({"sh", "-c", "echo $TIRVEL_EVENT >>\"$OUT\"; exit $TIRVEL_EVENT"});
        QSignalSpy failed(&command, &EventCommand::failed);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OUT", dir.filePath("out"));
        for (const char *status : {"1", "2", "0", "3"}) {
            environment.insert("TIRVEL_EVENT", status);
            command.run(environment);
        }
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(dir.filePath("out")).size(), 4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 5000);
        QVERIFY(failed.last().first().toString().contains("exit status 3"));
    }
};

TIRVEL_TEST_MAIN(TestEventCommand)
#include "tst_event_command.moc"
