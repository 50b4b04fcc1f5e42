#include "command_line.h"
#include "settings.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace tirvel;

// What a settings file gives a run: each kept option checked as the command line checks it, a
// wrong one left out with a word why, and the command line winning over them all.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keptChoices_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: there is none
        QTest::addColumn<QStringList>("commandLine");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<int>("eventGap");
        QTest::addColumn<QString>("camera");
        QTest::addColumn<int>("problems");

        QTest::newRow("none: as new") << QByteArray() << QStringList {} << 50 << 10 << "" << 0;
        QTest::newRow("kept") << QByteArray("sensitivity=80\nevent-gap=20\ncamera=cam0\n")
                              << QStringList {} << 80 << 20 << "cam0" << 0;
        QTest::newRow("the command line wins")
            << QByteArray("sensitivity=80\nevent-gap=20\n") << QStringList {"--sensitivity", "30"}
            << 30 << 20 << "" << 0;
        QTest::newRow("a wrong value is left out, the rest kept")
            << QByteArray("sensitivity=500\nevent-gap=soon\nwatching=maybe\ncamera=cam0\n")
            << QStringList {} << 50 << 10 << "cam0" << 3;
        QTest::newRow("a misspelt or a run's own option is not taken")
            << QByteArray("sensitivty=80\nwatch=true\nmqtt=mqtt://127.0.0.1\n") << QStringList {}
            << 50 << 10 << "" << 3;
        QTest::newRow("an unquoted comma stays in the value")
            << QByteArray("camera=Cam, front\n") << QStringList {} << 50 << 10 << "Cam,front" << 0;
        QTest::newRow("not a settings file")
            << QByteArray("\x00\xff[[\x01=\n=\n", 9) << QStringList {} << 50 << 10 << "" << 2;
        QTest::newRow("a folder in its place")
            << QByteArray("<folder>") << QStringList {} << 50 << 10 << "" << 1;
    }

    void keptChoices()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, commandLine);
        const QString path = keptFile(file);

        const SavedSettings saved = readSettings(path, m_config.path());
        const CommandLine options = parseCommandLine(
            withKeptOptions(QStringList {"tirvel"} + commandLine, saved), m_config.path());
        QCOMPARE(options.action, CommandLine::Action::Run);
        QTEST(options.sensitivity, "sensitivity");
        QTEST(options.eventGapSeconds, "eventGap");
        QTEST(options.cameraName, "camera");
        QTEST(int(saved.problems.size()), "problems");
    }

    // A value from the command line holds for its run and is not written; a change is written at
    // once.
    void changesAreKept_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("new") << QByteArray();
        QTest::newRow("kept") << QByteArray("sensitivity=80\n");
    }

    void changesAreKept()
    {
        QFETCH(QByteArray, file);
        const QString path = keptFile(file);
        {
            Settings settings(path, 30);
            QCOMPARE(settings.sensitivity(), 30);
            QCOMPARE(QFile::exists(path), !file.isNull());
            settings.setSensitivity(70);
            settings.setWatching(true);
        }
        QCOMPARE(
            readSettings(path, m_config.path()).arguments, QStringList({"--sensitivity", "70"}));
        QVERIFY(Settings(path, 50).watching());
    }

private:
    QString keptFile(const QByteArray &content)
    {
        QString path
            = QDir(m_config.path()).filePath(QStringLiteral("tirvel%1.conf").arg(m_files++));
        if (content == "<folder>") {
            QDir().mkpath(path);
        } else if (!content.isNull()) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
                qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

    QTemporaryDir m_config;
    int m_files = 0;
};

TIRVEL_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
