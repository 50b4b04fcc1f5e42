#include "events_window.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using namespace tirvel;

namespace {

void append(const QString &path, const QByteArray &lines)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(lines);
}

// A log line of these fields.
QByteArray line(const char *fields, const QDateTime &time = QDateTime::currentDateTime())
{
    return QByteArray("{") + fields + R"(,"time":")" + time.toUTC().toString(Qt::ISODate).toUtf8()
        + "\"}\n";
}

const char *const START_A = R"("event":"motion-start","picture":"a.png")";
const char *const START_B = R"("event":"motion-start","picture":"b.png")";

} // namespace

// The events window on a folder as runs leave it: the log turned over once, a damaged line, an
// event whose picture and clip were removed and one still open.
class TestEventsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheLogs_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("log");
        // Each event's picture and clip, newest first.
        QTest::addColumn<QStringList>("events");
        QTest::newRow("clip of the end")
            << QByteArray() + line(START_A) + line(R"("event":"motion-end","clip":"a.webm")")
            << line(START_B) << QStringList {"b.png", "a.png a.webm"};
        QTest::newRow("deleted in the newer log")
            << line(START_A) + line(START_B) << line(R"("event":"deleted","pictures":["b.png"])")
            << QStringList {"a.png"};
        QTest::newRow("deleted before the event is read")
            << line(R"("event":"deleted","pictures":["a.png","b.png"])") << line(START_A)
            << QStringList {};
    }

    void readsTheLogs()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, log);
        QFETCH(QStringList, events);
        QTemporaryDir folder;
        append(QDir(folder.path()).filePath("events.jsonl.1"), before);
        append(QDir(folder.path()).filePath("events.jsonl"), log);
        QStringList read;
        for (const LoggedEvent &event : readLoggedEvents(folder.path()))
            read << (event.picture + ' ' + event.clip).trimmed();
        QCOMPARE(read, events);
    }

    void listsTheFoldersEventsNewestFirst()
    {
        QTemporaryDir folder;
        const QDir dir(folder.path());
        QImage frame(64, 48, QImage::Format_RGB32);
        frame.fill(Qt::darkBlue);
        QVERIFY(frame.save(dir.filePath("20261208T100000Z.png")));
        QVERIFY(frame.save(dir.filePath("20261208T120000Z.png")));
        // The camera's frame, wider than the picture of the two frames.
        QVERIFY(frame.scaled(160, 90).save(dir.filePath("20261208T120000Z.jpg")));
        append(dir.filePath("events.jsonl.1"),
            R"({"count":80,"event":"motion-start","picture":"20261208T100000Z.png","threshold":50,"time":"2026-12-08T10:00:00Z"})"
            "\n"
            R"({"count":90,"event":"motion-end","time":"2026-12-08T10:00:12Z"})"
            "\n");
        append(dir.filePath("events.jsonl"),
            R"({"count":70,"event":"motion-start","picture":"20261208T110000Z.png","threshold":50,"time":"2026-12-08T11:00:00Z"})"
            "\n"
            R"({"clip":"20261208T110000Z.webm","count":70,"event":"motion-end","time":"2026-12-08T11:00:03Z"})"
            "\n{\"event\":\"motion-st\n"
            R"({"count":300,"event":"motion-start","picture":"20261208T120000Z.png","snapshot":"20261208T120000Z.jpg","threshold":20,"time":"2026-12-08T12:00:00Z"})"
            "\n");
        EventsWindow window(folder.path());
        auto *list = window.findChild<QListWidget *>("eventList");
        auto *picture = window.findChild<QLabel *>("eventPicture");
        QCOMPARE(list->count(), 4);
        QVERIFY(list->item(0)->text().contains("utan slut"));
        QVERIFY(list->item(0)->text().contains("300 punkter, gräns 20"));
        QCOMPARE(list->item(1)->text(), "Skadad rad i loggen");
        QVERIFY(list->item(2)->text().contains("3 s"));
        QVERIFY(list->item(2)->text().contains("bilden saknas"));
        QVERIFY(list->item(3)->text().contains("12 s"));
        // The camera's own frame is shown when it was kept.
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(picture->pixmap().width() > picture->pixmap().height() * 3 / 2);
        list->setCurrentRow(2);
        QCOMPARE(picture->text(), "Bilden finns inte längre.");
        QCOMPARE(window.findChild<QLabel *>("clipNote")->text(), "Filmen saknas.");

        // A new event comes in above the one chosen, which stays chosen.
        append(dir.filePath("events.jsonl"),
            R"({"count":60,"event":"motion-start","threshold":50,"time":"2026-12-08T13:00:00Z"})"
            "\n");
        window.refresh();
        QCOMPARE(list->count(), 5);
        QCOMPARE(list->currentRow(), 3);
    }

    void deletesOnlyWhatThePersonConfirms_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("deleted");
        QTest::newRow("chosen") << "deleteButton" << true << QStringList {"new.png"};
        QTest::newRow("chosen, declined") << "deleteButton" << false << QStringList {};
        QTest::newRow("older") << "deleteOlderButton" << true << QStringList {"old.png"};
    }

    void deletesOnlyWhatThePersonConfirms()
    {
        QFETCH(QString, button);
        QFETCH(bool, answer);
        QFETCH(QStringList, deleted);
        QTemporaryDir folder;
        // Either side of the day "Radera äldre…" offers, a week ago, in local time.
        const QDate weekAgo = QDate::currentDate().addDays(-7);
        append(QDir(folder.path()).filePath("events.jsonl"),
            line(R"("event":"motion-start","picture":"old.png")",
                QDateTime(weekAgo.addDays(-1), QTime(23, 59)))
                + line(R"("event":"motion-start","picture":"new.png")",
                    QDateTime(weekAgo, QTime(0, 0))));
        EventsWindow window(folder.path(), nullptr, [answer](const QString &) { return answer; });
        QSignalSpy requests(&window, &EventsWindow::deleteRequested);
        // The day is left as offered.
        QTimer::singleShot(0, &window, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->accept();
        });
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
        QCOMPARE(requests.value(0).value(0).toStringList(), deleted);
    }
};

TIRVEL_TEST_MAIN(TestEventsWindow)
#include "tst_events_window.moc"
