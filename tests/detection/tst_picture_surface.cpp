#include "bmp_writer.h"
#include "detection_state.h"
#include "picture_surface.h"
#include "test_main.h"
#include "tirvel_error.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

constexpr ColourValue BACKGROUND = 0x00D8E9EC;

PictureSurface surfaceWithInterior(int width, int height, int borderWidth = 1)
{
    PictureSurface surface(borderWidth, BACKGROUND);
    surface.setOuterSize({width + 2 * borderWidth, height + 2 * borderWidth});
    return surface;
}

ColourValue colourAt(const QImage &image, int x, int y)
{
    return colourFromRgb32(image.pixel(x, y));
}

} // namespace

class TestPictureSurface : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString fileWith(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        if (!saveFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void colourLayout()
    {
        // Qt's 0xAARRGGBB against the program's 0x00BBGGRR.
        QCOMPARE(colourFromRgb32(0xFF112233u), 0x00332211u);
        QCOMPARE(rgb32FromColour(0x00332211u), 0xFF112233u);
        QCOMPARE(rgb32FromColour(MARK_COLOUR), 0xFF00C800u);
    }

    void sizes_data()
    {
        QTest::addColumn<int>("borderWidth");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QSize>("interior");

        QTest::newRow("two-pixel border at the live view's size")
            << 2 << QSize(160, 120) << QSize(156, 116);
        QTest::newRow("one-pixel border at the live view's size")
            << 1 << QSize(160, 120) << QSize(158, 118);
        QTest::newRow("no larger than its border") << 2 << QSize(4, 3) << QSize(0, 0);
        QTest::newRow("one pixel inside") << 1 << QSize(3, 3) << QSize(1, 1);
        QTest::newRow("zero") << 1 << QSize(0, 0) << QSize(0, 0);
        QTest::newRow("negative") << 1 << QSize(-20, -1) << QSize(0, 0);
    }

    void sizes()
    {
        QFETCH(int, borderWidth);
        QFETCH(QSize, outer);

        PictureSurface surface(borderWidth, BACKGROUND);
        surface.setOuterSize(outer);
        QTEST(surface.interiorSize(), "interior");
        QCOMPARE(surface.pixelLayer().size(), surface.interiorSize());
    }

    void pictureIsClippedNotStretched()
    {
        const QImage picture = patternImage(160, 120);
        const QString path = fileWith("pattern.bmp", writeBmp(picture));
        PictureSurface surface = surfaceWithInterior(156, 116, 2);
        surface.load(path);

        QCOMPARE(surface.readPixel(0, 0), colourAt(picture, 0, 0));
        QCOMPARE(surface.readPixel(155, 115), colourAt(picture, 155, 115));
        QCOMPARE(surface.readPixel(156, 0), INVALID_COLOUR);
        QCOMPARE(surface.readPixel(0, 116), INVALID_COLOUR);
        QCOMPARE(surface.readPixel(-1, 0), INVALID_COLOUR);
        QCOMPARE(surface.readPixel(0, -1), INVALID_COLOUR);

        // A smaller picture leaves the rest of the interior to the background.
        const QImage small = patternImage(100, 50);
        PictureSurface wide = surfaceWithInterior(158, 118);
        wide.load(fileWith("small.bmp", writeBmp(small)));
        QCOMPARE(wide.readPixel(99, 49), colourAt(small, 99, 49));
        QCOMPARE(wide.readPixel(120, 10), BACKGROUND);
        QCOMPARE(wide.readPixel(10, 60), BACKGROUND);
        QCOMPARE(wide.readPixel(157, 117), BACKGROUND);
    }

    void loadsEveryDepthAndRowPadding_data()
    {
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("topDown");
        for (int bits : {1, 4, 8, 16, 24, 32}) {
            // Widths +1 ... +7 walk every row padding the depth can have.
            for (int width = 16; width <= 23; ++width)
                QTest::addRow("%d bits, %d wide", bits, width) << bits << width << false;
            QTest::addRow("%d bits, top row first", bits) << bits << 17 << true;
        }
    }

    void loadsEveryDepthAndRowPadding()
    {
        QFETCH(int, bitsPerPixel);
        QFETCH(int, width);
        QFETCH(bool, topDown);
        const QImage picture = patternImage(width, 9, bitsPerPixel);
        PictureSurface surface = surfaceWithInterior(40, 20);
        surface.load(fileWith("depth.bmp", writeBmp(picture, bitsPerPixel, topDown)));

        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (surface.readPixel(x, y) != colourAt(picture, x, y))
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) reads %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(surface.readPixel(x, y), 8, 16, QLatin1Char('0'))
                                         .arg(colourAt(picture, x, y), 8, 16, QLatin1Char('0'))));
            }
        }
        QCOMPARE(surface.readPixel(width, 0), BACKGROUND);
    }

    void runLengthCodedPictureLoads()
    {
        const QImage picture = patternImage(30, 7, 8);
        PictureSurface surface = surfaceWithInterior(40, 20);
        surface.load(fileWith("rle8.bmp", writeRle8Bmp(picture)));
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                QCOMPARE(surface.readPixel(x, y), colourAt(picture, x, y));
        }
    }

    void writesLastUntilTheNextRepaint()
    {
        const QImage picture = patternImage(158, 118);
        const QString path = fileWith("marks.bmp", writeBmp(picture));
        PictureSurface surface = surfaceWithInterior(158, 118);
        surface.load(path);

        const QImage shown = surface.pixelLayer();
        surface.writePixel(3, 4, MARK_COLOUR);
        QCOMPARE(surface.readPixel(3, 4), MARK_COLOUR);
        QVERIFY2(colourAt(shown, 3, 4) == colourAt(picture, 3, 4),
            "a copy of the layer taken before a write must not change with it");

        const QImage before = surface.pixelLayer().copy();
        for (auto [x, y] : {std::pair {-1, 0}, {158, 0}, {0, -1}, {0, 118}, {-5, -5}, {1000, 1000}})
            surface.writePixel(x, y, 0x00000000);
        QVERIFY2(surface.pixelLayer() == before, "a write outside the interior changed a pixel");

        surface.load(path);
        QCOMPARE(surface.readPixel(3, 4), colourAt(picture, 3, 4));

        // A change of size repaints too, and keeps the picture.
        surface.writePixel(3, 4, MARK_COLOUR);
        surface.setOuterSize({102, 120});
        QCOMPARE(surface.interiorSize(), QSize(100, 118));
        QCOMPARE(surface.readPixel(3, 4), colourAt(picture, 3, 4));
        QCOMPARE(surface.readPixel(99, 117), colourAt(picture, 99, 117));
    }

    void withoutPictureShowsBackground()
    {
        const PictureSurface surface = surfaceWithInterior(12, 9);
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 12; ++x)
                QCOMPARE(surface.readPixel(x, y), BACKGROUND);
        }
        QCOMPARE(surface.readPixel(12, 0), INVALID_COLOUR);
    }

    void failedLoadKeepsPictureAndMarks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // empty: no file is written
        QTest::addColumn<int>("number");

        const QByteArray whole = writeBmp(patternImage(160, 120));
        QCOMPARE(whole.size(), 57654);

        QTest::newRow("missing file") << "missing.bmp" << QByteArray() << 53;
        QTest::newRow("empty file") << "empty.bmp" << QByteArray("") << 481;
        QTest::newRow("not a picture") << "text.bmp" << QByteArray("hello, world\n") << 481;
        for (int eighth = 1; eighth < 8; ++eighth) {
            QTest::addRow("cut after %d eighths", eighth)
                << "cut.bmp" << whole.left(whole.size() * eighth / 8) << 481;
        }
        QTest::newRow("half-written frame") << "half.bmp" << whole.left(30000) << 481;
        QTest::newRow("one byte short") << "short.bmp" << whole.chopped(1) << 481;

        const auto changed = [&](qsizetype at, std::uint32_t value, int size = 4) {
            QByteArray bytes = whole;
            size == 4 ? putU32(bytes, at, value) : putU16(bytes, at, std::uint16_t(value));
            return bytes;
        };
        QByteArray huge = whole;
        putU32(huge, bmp::WIDTH, 100000);
        putU32(huge, bmp::HEIGHT, 100000);
        QTest::newRow("claims ten billion pixels") << "huge.bmp" << huge << 481;
        QByteArray millions = whole;
        putU32(millions, bmp::WIDTH, 4000);
        putU32(millions, bmp::HEIGHT, 4000);
        QTest::newRow("sixteen million pixels in a small file")
            << "millions.bmp" << millions << 481;
        QTest::newRow("zero width") << "w0.bmp" << changed(bmp::WIDTH, 0) << 481;
        QTest::newRow("negative width")
            << "w-.bmp" << changed(bmp::WIDTH, std::uint32_t(-160)) << 481;
        QTest::newRow("zero height") << "h0.bmp" << changed(bmp::HEIGHT, 0) << 481;
        for (std::uint32_t bits : {0u, 3u, 64u})
            QTest::addRow("%u bits per pixel", bits)
                << "bits.bmp" << changed(bmp::BITS_PER_PIXEL, bits, 2) << 481;
        QTest::newRow("unknown compression") << "jpeg.bmp" << changed(bmp::COMPRESSION, 4) << 481;
        QTest::newRow("header size past the end")
            << "header.bmp" << changed(bmp::HEADER_SIZE, 124).left(70) << 481;
        QTest::newRow("unknown header size")
            << "header2.bmp" << changed(bmp::HEADER_SIZE, 41) << 481;
        QTest::newRow("pixel data offset past the end")
            << "offset.bmp" << changed(bmp::PIXELS_OFFSET, 60000) << 481;
        QTest::newRow("pixel data offset inside the header")
            << "offset2.bmp" << changed(bmp::PIXELS_OFFSET, 20) << 481;

        // Four palette entries, and a pixel that asks for the two hundredth.
        QByteArray shortPalette = writeBmp(patternImage(16, 4, 2), 8);
        QCOMPARE(shortPalette[bmp::COLOURS_USED], char(4));
        shortPalette[bmp::PALETTE + 4 * 4 + 5] = char(200);
        QTest::newRow("palette index past the palette") << "index.bmp" << shortPalette << 481;
        QByteArray shortPalette4 = writeRle4Bmp(patternImage(16, 4, 2));
        shortPalette4[shortPalette4.size() - 5] = char(0xF0); // the last run's colours
        QTest::newRow("run-length palette index past the palette")
            << "index4.bmp" << shortPalette4 << 481;

        const QByteArray rle = writeRle8Bmp(patternImage(30, 7, 8));
        QTest::newRow("run-length data without its end") << "rle.bmp" << rle.chopped(2) << 481;
        QImage black(30, 2, QImage::Format_RGB32);
        black.fill(Qt::black);
        QByteArray pastRow = writeRle8Bmp(black);
        // Rows are one run of 30 each; make the first run 40 long.
        pastRow[qsizetype(bmp::PALETTE + 4)] = char(40);
        QTest::newRow("run past the end of a row") << "pastrow.bmp" << pastRow << 481;
        QByteArray pastBottom = writeRle8Bmp(black);
        pastBottom.insert(pastBottom.size() - 2, QByteArray("\x1E\x00\x00\x00", 4));
        QTest::newRow("run past the last row") << "pastlast.bmp" << pastBottom << 481;

        QByteArray noMasks = writeBitFieldsBmp(patternImage(8, 8, 32), 32);
        putU32(noMasks, bmp::PALETTE + 4, 0);
        QTest::newRow("colour mask of zero") << "masks.bmp" << noMasks << 481;

        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        patternImage(20, 10).save(&buffer, "PNG");
        QTest::newRow("bitmap signature on a PNG")
            << "png.bmp" << QByteArray("BM" + png.mid(2)) << 481;
    }

    void otherPicturesLoadExactly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QImage>("expected");

        const QImage pattern16 = patternImage(19, 6, 16);
        QTest::newRow("16 bits with 5-6-5 masks") << writeBitFieldsBmp(pattern16, 16) << pattern16;
        const QImage pattern32 = patternImage(19, 6, 32);
        QTest::newRow("32 bits with masks") << writeBitFieldsBmp(pattern32, 32) << pattern32;
        const QImage pattern4 = patternImage(21, 5, 4);
        QTest::newRow("4-bit run-length coding") << writeRle4Bmp(pattern4) << pattern4;

        const QImage photo = patternImage(20, 10);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, "PNG");
        QTest::newRow("a PNG named .bmp") << png << photo;
    }

    void otherPicturesLoadExactly()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QImage, expected);
        PictureSurface surface = surfaceWithInterior(40, 20);
        surface.load(fileWith("other.bmp", bytes));
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x)
                QCOMPARE(surface.readPixel(x, y), colourAt(expected, x, y));
        }
    }

    void failedLoadKeepsPictureAndMarks()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, number);

        const QImage picture = patternImage(158, 118);
        PictureSurface surface = surfaceWithInterior(158, 118);
        surface.load(fileWith("good.bmp", writeBmp(picture)));
        surface.writePixel(10, 10, MARK_COLOUR);
        const QImage before = surface.pixelLayer().copy();

        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        if (!bytes.isNull())
            QVERIFY(saveFile(path, bytes));

        try {
            surface.load(path);
            QFAIL("load did not fail");
        } catch (const TirvelError &error) {
            QCOMPARE(int(error.number()), number);
            QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        }
        QVERIFY2(surface.pixelLayer() == before, "a failed load changed what the surface shows");
        QCOMPARE(surface.readPixel(10, 10), MARK_COLOUR);
    }

    void unreadablePathsAreAccessErrors()
    {
        PictureSurface surface = surfaceWithInterior(10, 10);
        QVERIFY(QDir(m_dir.path()).mkpath("folder.bmp"));
        QStringList paths {m_dir.filePath("folder.bmp")};

        const QString locked = fileWith("locked.bmp", writeBmp(patternImage(4, 4)));
        QFile::setPermissions(locked, QFileDevice::Permissions());
        if (::geteuid() != 0) // root reads it anyway
            paths << locked;

        for (const QString &path : paths) {
            try {
                surface.load(path);
                QFAIL(qPrintable(path + " loaded"));
            } catch (const TirvelError &error) {
                QCOMPARE(error.number(), ErrorNumber::PathAccessError);
                QVERIFY(error.description().contains(path));
            }
        }
    }
};

TIRVEL_TEST_MAIN(TestPictureSurface)
#include "tst_picture_surface.moc"
