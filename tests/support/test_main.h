#pragma once

#include <QApplication>
#include <QTest>

// Every test runs the same on every machine: headless unless a display is asked for, at 96 dpi so
// that fonts measure the same everywhere.
#define TIRVEL_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        qputenv("QT_FONT_DPI", "96");                                                              \
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");                                                 \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
