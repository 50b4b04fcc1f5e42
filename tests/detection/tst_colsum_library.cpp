#include "colsum_library.h"
#include "test_main.h"
#include "tirvel_error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tirvel;

class TestColSumLibrary : public QObject
{
    Q_OBJECT

private:
    static void expectError(ColSumLibrary &library, ErrorNumber number, const QString &mention)
    {
        try {
            library(0);
            QFAIL("the measure was bound");
        } catch (const TirvelError &error) {
            QCOMPARE(error.number(), number);
            QVERIFY2(error.description().contains(mention), qPrintable(error.description()));
        }
    }

private Q_SLOTS:
    void measuresThroughTheRealLibrary_data()
    {
        QTest::addColumn<quint32>("colour");
        QTest::addColumn<std::int32_t>("measure");

        QTest::newRow("black") << 0x00000000u << 0;
        QTest::newRow("white") << 0x00FFFFFFu << 765;
        QTest::newRow("one of each channel") << 0x00030201u << 6;
        QTest::newRow("the mark") << 0x0000C800u << 200;
        QTest::newRow("highest byte ignored") << 0x7F0000FFu << 255;
        QTest::newRow("invalid colour is below every colour") << 0xFFFFFFFFu << -1;
        QTest::newRow("nearly invalid") << 0xFFFFFFFEu << 764;
    }

    void measuresThroughTheRealLibrary()
    {
        QFETCH(quint32, colour);
        ColSumLibrary library(QStringLiteral(COLORSUM_PATH));
        QTEST(library(colour), "measure");
    }

    void missingLibraryFailsUntilItArrives()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(ColSumLibrary::fileName());
        ColSumLibrary library(path);
        expectError(library, ErrorNumber::FileNotFound, path);
        expectError(library, ErrorNumber::FileNotFound, path);

        QVERIFY(QFile::copy(QStringLiteral(COLORSUM_PATH), path));
        QCOMPARE(library(0x00FFFFFF), 765);
    }

    void wrongLibraryIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(ColSumLibrary::fileName());

        QVERIFY(QFile::copy(QStringLiteral(NO_COLSUM_PATH), path));
        ColSumLibrary withoutFunction(path);
        expectError(withoutFunction, ErrorNumber::DllEntryPointMissing, QStringLiteral("ColSum"));

        QTemporaryDir other;
        const QString notLibrary = other.filePath(ColSumLibrary::fileName());
        QFile text(notLibrary);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a library\n");
        text.close();
        ColSumLibrary broken(notLibrary);
        expectError(broken, ErrorNumber::DllLoadFailed, notLibrary);
    }

    void neverSearchesElsewhere()
    {
        // A library in the current directory or named without a directory is never bound.
        QTemporaryDir planted;
        QVERIFY(QFile::copy(
            QStringLiteral(COLORSUM_PATH), planted.filePath(ColSumLibrary::fileName())));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(planted.path()));

        QTemporaryDir programDirectory;
        ColSumLibrary library(programDirectory.filePath(ColSumLibrary::fileName()));
        expectError(library, ErrorNumber::FileNotFound, programDirectory.path());
        ColSumLibrary relative(ColSumLibrary::fileName());
        expectError(relative, ErrorNumber::FileNotFound, ColSumLibrary::fileName());
        ColSumLibrary bare(QStringLiteral("ColorSum"));
        expectError(bare, ErrorNumber::FileNotFound, QStringLiteral("ColorSum"));

        QVERIFY(QDir::setCurrent(previous));
    }
};

TIRVEL_TEST_MAIN(TestColSumLibrary)
#include "tst_colsum_library.moc"
