#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <utility>

namespace tirvel::testing {

// ctest starts every test in a session of its own (test_session.sh); a test run by hand keeps out
// of the person's home, settings and session bus all the same, and so does every program it starts.
inline void keepOutOfThePersonsSession(const QTemporaryDir &session)
{
    if (qEnvironmentVariableIsSet("TIRVEL_TEST_SESSION") || !session.isValid())
        return;
    const QDir folder(session.path());
    const std::array<std::pair<const char *, const char *>, 6> folders {{{"HOME", "home"},
        {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"},
        {"XDG_STATE_HOME", "state"}, {"XDG_RUNTIME_DIR", "runtime"}}};
    for (const auto &[variable, name] : folders) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        folder.mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, QFile::encodeName(path));
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("TIRVEL_TEST_SESSION", QFile::encodeName(session.path()));
}

} // namespace tirvel::testing

// Every test runs the same on every machine: headless unless a display is asked for, at 96 dpi so
// that fonts measure the same everywhere, and apart from the person's session.
#define TIRVEL_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        const QTemporaryDir session;                                                               \
        tirvel::testing::keepOutOfThePersonsSession(session);                                      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        qputenv("QT_FONT_DPI", "96");                                                              \
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");                                                 \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
