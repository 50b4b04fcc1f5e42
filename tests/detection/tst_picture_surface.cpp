#include "bmp_writer.h"
#include "detection_state.h"
#include "picture_file.h"
#include "picture_surface.h"
#include "test_main.h"
#include "tirvel_error.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <thread>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

constexpr ColourValue BACKGROUND = 0x00D8E9EC;

PictureSurface surfaceWithInterior(int width, int height)
{
    PictureSurface surface(BACKGROUND);
    surface.setInteriorSize({width, height});
    return surface;
}

ColourValue colourAt(const QImage &image, int x, int y)
{
    return colourFromRgb32(image.pixel(x, y));
}

// A bitmap with its pixel data replaced, such as run-length codes written by hand.
QByteArray withPixelData(const QByteArray &bitmap, const QByteArray &pixels)
{
    QByteArray bytes = bitmap.left(qFromLittleEndian<quint32>(bitmap.constData() + 10)) + pixels;
    putU32(bytes, 2, std::uint32_t(bytes.size()));
    return bytes;
}

// A channel as the picture should show it, from the masks alone: fewer than 8 bits are widened
// by shifting them to the top.
int channel(std::uint32_t pixel, std::uint32_t mask)
{
    return int((pixel & mask) >> std::countr_zero(mask)) << (8 - std::popcount(mask));
}

// Whether every pixel of the interior shows one colour.
bool uniform(const PictureSurface &surface)
{
    for (int y = 0; y < surface.interiorSize().height(); ++y) {
        for (int x = 0; x < surface.interiorSize().width(); ++x) {
            if (surface.readPixel(x, y) != surface.readPixel(0, 0))
                return false;
        }
    }
    return true;
}

} // namespace

class TestPictureSurface : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Dated a second back, as a frame written before anyone reads it; the loader waits for a
    // file written just now (writersNeverShowATornFrame).
    QString fileWith(const QString &name, const QByteArray &bytes)
    {
        QString path = m_dir.filePath(name);
        QFile file(path);
        if (!saveFile(path, bytes) || !file.open(QIODevice::Append)
            || !file.setFileTime(
                QDateTime::currentDateTime().addSecs(-1), QFileDevice::FileModificationTime))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void colourLayout()
    {
        // Qt's 0xAARRGGBB against the program's 0x00BBGGRR.
        QCOMPARE(colourFromRgb32(0xFF112233u), 0x00332211u);
        QCOMPARE(rgb32FromColour(0x00332211u), 0xFF112233u);
        QCOMPARE(rgb32FromColour(MARK_COLOUR), 0xFF00C800u);
    }

    void sizes_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("interior");

        QTest::newRow("the timed frame's at the design size") << QSize(156, 116) << QSize(156, 116);
        QTest::newRow("one pixel") << QSize(1, 1) << QSize(1, 1);
        QTest::newRow("zero") << QSize(0, 0) << QSize(0, 0);
        QTest::newRow("negative") << QSize(-20, -1) << QSize(0, 0);
    }

    void sizes()
    {
        QFETCH(QSize, asked);

        PictureSurface surface(BACKGROUND);
        surface.setInteriorSize(asked);
        QTEST(surface.interiorSize(), "interior");
        QCOMPARE(surface.pixelLayer().size(), surface.interiorSize());
    }

    void pictureIsClippedNotStretched()
    {
        const QImage picture = patternImage(160, 120);
        const QString path = fileWith("pattern.bmp", writeBmp(picture));
        PictureSurface surface = surfaceWithInterior(156, 116);
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
        surface.setInteriorSize({100, 118});
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
        // Past the four entries of four bytes, the sixth pixel.
        shortPalette[bmp::PALETTE + 16 + 5] = char(200);
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

        // Codes that leave pixels unset: Qt's reader shows whatever memory held there.
        const QByteArray rle8x3 = writeRle8Bmp(patternImage(8, 3, 8));
        const QByteArray row("\x08\x01\x00\x00", 4);
        QTest::newRow("run-length move over pixels")
            << "move.bmp"
            << withPixelData(rle8x3,
                   row + QByteArray("\x00\x02\x03\x00\x05\x02\x00\x00", 8) + row
                       + QByteArray("\x00\x01", 2))
            << 481;
        QTest::newRow("run-length row ended early")
            << "eol.bmp"
            << withPixelData(rle8x3,
                   row + QByteArray("\x04\x02\x00\x00", 4) + row + QByteArray("\x00\x01", 2))
            << 481;
        QTest::newRow("run-length picture ended early")
            << "eop.bmp" << withPixelData(rle8x3, row + QByteArray("\x00\x01", 2)) << 481;
        QTest::newRow("4-bit run-length picture ended early")
            << "eop4.bmp"
            << withPixelData(writeRle4Bmp(patternImage(8, 3, 4)), QByteArray("\x08\x11\x00\x01", 4))
            << 481;
        // An OS/2 2.x header whose palette claims all 256 colours and holds 8: Qt's reader takes
        // the rest of the palette from the pixels, and the last rows from memory.
        QByteArray os2 = writeBmp(patternImage(32, 40, 8), 8);
        os2.insert(bmp::PALETTE, QByteArray(24, '\0'));
        putU32(os2, bmp::HEADER_SIZE, 64);
        putU32(os2, bmp::COLOURS_USED, 0);
        putU32(os2, bmp::PIXELS_OFFSET, qFromLittleEndian<quint32>(os2.constData() + 10) + 24);
        QTest::newRow("OS/2 2.x palette shorter than its depth") << "os2.bmp" << os2 << 481;
        QByteArray inMasks = writeBitFieldsBmp(patternImage(8, 8, 32), 32);
        putU32(inMasks, bmp::PIXELS_OFFSET, bmp::PALETTE);
        QTest::newRow("pixel data offset inside the colour masks")
            << "inmasks.bmp" << inMasks << 481;

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

    void frameSizeLimit_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("loads");
        QTest::newRow("a 4K camera's frame") << QSize(4096, 2160) << QByteArray("BMP") << true;
        // Claimed by the header, with no pixels behind it: refused before anything is decoded.
        QTest::newRow("a row past the limit, bitmap") << QSize(4096, 2305) << QByteArray() << false;
        QTest::newRow("a row past the limit, PNG")
            << QSize(4096, 2305) << QByteArray("PNG") << false;
    }

    void frameSizeLimit()
    {
        QFETCH(QSize, size);
        QFETCH(QByteArray, format);
        QFETCH(bool, loads);
        QByteArray bytes;
        if (format.isEmpty()) {
            bytes = writeBmp(patternImage(16, 2));
            putU32(bytes, bmp::WIDTH, std::uint32_t(size.width()));
            putU32(bytes, bmp::HEIGHT, std::uint32_t(size.height()));
        } else {
            QImage picture(size, QImage::Format_RGB32);
            picture.fill(0xFF336699);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(picture.save(&buffer, format.constData()));
        }
        PictureSurface surface = surfaceWithInterior(8, 8);
        try {
            surface.load(fileWith("limit." + format.toLower(), bytes));
            QVERIFY2(loads, "a picture past the limit loaded");
            QCOMPARE(surface.readPixel(7, 7), 0x00996633u);
        } catch (const TirvelError &error) {
            QVERIFY2(!loads, qPrintable(error.description()));
            QVERIFY2(error.description().contains("too large"), qPrintable(error.description()));
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
            fileWith(name, bytes);

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

    void bitFieldsDecodeExactlyOrAreRefused_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<uint>("red");
        QTest::addColumn<uint>("green");
        QTest::addColumn<uint>("blue");
        QTest::addColumn<uint>("alpha"); // other than 0, in a version 4 header
        QTest::addColumn<bool>("refused");
        const auto mask = [](int width, int shift) { return ((1u << width) - 1) << shift; };

        QTest::newRow("16: 5-5-5") << 16 << 0x7C00u << 0x03E0u << 0x001Fu << 0u << false;
        QTest::newRow("16: 5-6-5") << 16 << 0xF800u << 0x07E0u << 0x001Fu << 0u << false;
        QTest::newRow("32: 8-8-8") << 32 << 0xFF0000u << 0xFF00u << 0xFFu << 0u << false;
        QTest::newRow("32: 8-8-8-8") << 32 << 0xFF0000u << 0xFF00u << 0xFFu << 0xFF000000u << false;
        QTest::newRow("32: 10-10-10-2")
            << 32 << 0x3FF00000u << 0xFFC00u << 0x3FFu << 0xC0000000u << true;
        QTest::newRow("32: 11-11-10") << 32 << 0xFFE00000u << 0x1FFC00u << 0x3FFu << 0u << true;
        QTest::newRow("16: 3-10-3") << 16 << 0xE000u << 0x1FF8u << 0x7u << 0u << true;
        QTest::newRow("32: 9-8-8") << 32 << 0x1FF0000u << 0xFF00u << 0xFFu << 0u << true;
        QTest::newRow("broken mask") << 32 << 0xF0F000u << 0xF00u << 0xFFu << 0u << true;
        QTest::newRow("overlapping masks") << 32 << 0xFF0000u << 0xFFF0u << 0xFu << 0u << true;
        // Every width from 1 to 8, packed low, packed at the top in the other order, and spread.
        for (int bits : {16, 32}) {
            for (int w = 1; w <= 8 && 3 * w <= bits; ++w) {
                const int gap = (bits - 3 * w) / 3;
                QTest::addRow("%d: %d-%d-%d low", bits, w, w, w)
                    << bits << mask(w, 2 * w) << mask(w, w) << mask(w, 0) << 0u << false;
                QTest::addRow("%d: %d-%d-%d high, blue first", bits, w, w, w)
                    << bits << mask(w, bits - 3 * w) << mask(w, bits - 2 * w) << mask(w, bits - w)
                    << 0u << false;
                QTest::addRow("%d: %d-%d-%d spread", bits, w, w, w)
                    << bits << mask(w, 2 * (w + gap)) << mask(w, w + gap) << mask(w, 0) << 0u
                    << false;
            }
            for (auto [r, g, b] : {std::tuple {1, 8, 1}, {7, 1, 7}, {2, 3, 4}, {3, 6, 5}, {8, 2, 6},
                     {5, 7, 3}, {6, 4, 2}, {4, 5, 7}}) {
                if (r + g + b <= bits)
                    QTest::addRow("%d: %d-%d-%d", bits, r, g, b)
                        << bits << mask(r, g + b) << mask(g, b) << mask(b, 0) << 0u << false;
            }
        }
    }

    void bitFieldsDecodeExactlyOrAreRefused()
    {
        QFETCH(int, bits);
        QFETCH(uint, red);
        QFETCH(uint, green);
        QFETCH(uint, blue);
        QFETCH(uint, alpha);
        QFETCH(bool, refused);
        constexpr int WIDTH = 32;
        constexpr int HEIGHT = 8;
        // All bits clear, all set, then values spread over every channel's range.
        QList<std::uint32_t> pixels {0, 0xFFFFFFFFu};
        for (std::uint32_t value = 12345; pixels.size() < qsizetype(WIDTH) * HEIGHT;)
            pixels << (value = value * 1664525u + 1013904223u);
        for (std::uint32_t &pixel : pixels)
            pixel &= bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        const QString path = fileWith(
            "masks.bmp", writeBitFieldsBmp(WIDTH, HEIGHT, bits, {red, green, blue, alpha}, pixels));
        PictureSurface surface = surfaceWithInterior(WIDTH, HEIGHT);
        if (refused) {
            QVERIFY_THROWS_EXCEPTION(TirvelError, surface.load(path));
            return;
        }
        surface.load(path);
        for (int i = 0; i < WIDTH * HEIGHT; ++i) {
            const std::uint32_t p = pixels[i];
            const QRgb expected = qRgb(channel(p, red), channel(p, green), channel(p, blue));
            if (surface.readPixel(i % WIDTH, i / WIDTH) != colourFromRgb32(expected))
                QFAIL(qPrintable(QStringLiteral("pixel %1 reads %2, expected %3")
                                     .arg(p, 8, 16, QLatin1Char('0'))
                                     .arg(surface.readPixel(i % WIDTH, i / WIDTH), 6, 16)
                                     .arg(colourFromRgb32(expected), 6, 16)));
        }
    }

    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::newRow("named pipe") << "pipe" << 75;
        QTest::newRow("symbolic link to a named pipe") << "link to pipe" << 75;
        QTest::newRow("symbolic link to /dev/zero") << "link to /dev/zero" << 75;
        QTest::newRow("socket") << "socket" << 75;
        // A regular file that claims no size and never ends.
        QTest::newRow("endless file") << "/proc/self/pagemap" << 481;
    }

    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QFETCH(int, number);
        const QString pipe = m_dir.filePath("pipe");
        QString path = m_dir.filePath("6.bmp");
        QFile::remove(path);
        QFile::remove(pipe);
        const auto cleanup = qScopeGuard([&] { QFile::remove(path); });
        int socketFd = -1;
        if (kind == "pipe" || kind == "link to pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
            if (kind == "pipe")
                path = pipe;
            else
                QVERIFY(QFile::link(pipe, path));
        } else if (kind == "link to /dev/zero") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "socket") {
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            std::strncpy(
                address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
            socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        } else {
            path = kind;
        }
        const auto closeSocket = qScopeGuard([&] { socketFd >= 0 && ::close(socketFd); });

        // Should the load wait on the pipe, a writer comes after a few seconds, so that the test
        // fails instead of hanging.
        std::atomic<bool> unblocked = false;
        std::jthread unblocker([&](const std::stop_token &stop) {
            for (int i = 0; i < 30 && !stop.stop_requested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                unblocked = true;
                ::close(fd);
            }
        });
        PictureSurface surface = surfaceWithInterior(8, 8);
        surface.load(fileWith("good.bmp", writeBmp(patternImage(8, 8))));
        const QImage before = surface.pixelLayer();
        try {
            surface.load(path);
            QFAIL("load did not fail");
        } catch (const TirvelError &error) {
            QVERIFY2(!unblocked, "the load waited for a writer");
            QCOMPARE(int(error.number()), number);
            QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        }
        QVERIFY(surface.pixelLayer() == before);
    }

    void writersNeverShowATornFrame_data()
    {
        QTest::addColumn<QStringList>("writer");
        QTest::addColumn<QString>("refusal"); // what a refusal says; empty when none may happen
        QTest::addColumn<bool>("mustShow");
        const QString busy = QStringLiteral("the file is still being written");
        QTest::newRow("renaming writer at 30 frames a second")
            << QStringList {"--rename", "--fps", "30"} << QString() << true;
        QTest::newRow("in-place writer at 5 frames a second")
            << QStringList {"--in-place", "--fps", "5"} << busy << true;
        QTest::newRow("in-place writer without a break")
            << QStringList {"--in-place"} << busy << false;
        // Caught between its chunks, the file is short, and the header check says so.
        QTest::newRow("truncating writer without a break")
            << QStringList() << QStringLiteral("Invalid picture") << false;
    }

    void writersNeverShowATornFrame()
    {
        QFETCH(QStringList, writer);
        QFETCH(QString, refusal);
        QFETCH(bool, mustShow);
        // Uniform frames of one size: a frame mixing two of them is not uniform.
        QStringList sources;
        for (QRgb colour : {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu}) {
            QImage image(160, 120, QImage::Format_RGB32);
            image.fill(colour);
            sources << fileWith(
                QStringLiteral("source%1.bmp").arg(sources.size()), writeBmp(image));
        }
        const QString path = m_dir.filePath("5.bmp");
        QFile::remove(path);
        QVERIFY(QFile::copy(sources.first(), path));
        QProcess writerProcess;
        const auto stopWriter = [&writerProcess] {
            writerProcess.kill();
            writerProcess.waitForFinished();
        };
        const auto stopWriterOnFailure = qScopeGuard(stopWriter);
        writerProcess.start(
            QStringLiteral(FRAME_REWRITER_PATH), writer + QStringList {path, "1000000"} + sources);
        QVERIFY(writerProcess.waitForStarted());

        PictureSurface surface = surfaceWithInterior(160, 120);
        int shown = 0;
        int refused = 0;
        int torn = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1500) {
            const QImage before = surface.pixelLayer();
            try {
                surface.load(path);
                uniform(surface) ? ++shown : ++torn;
            } catch (const TirvelError &error) {
                ++refused;
                QVERIFY2(!refusal.isEmpty() && error.description().contains(refusal),
                    qPrintable(error.description()));
                QVERIFY(surface.pixelLayer() == before);
            }
        }
        stopWriter();
        // A writer held up between its chunks for the quiet time leaves part of a frame looking
        // whole to any reader; a loaded machine does that, and only then is a torn frame no fault.
        const QList<QByteArray> pauses
            = writerProcess.readAllStandardOutput().trimmed().split('\n');
        const std::chrono::microseconds longestPause {
            pauses.last().split(' ').value(5).toLongLong()};
        qInfo("%d frames shown, %d refused, %d torn; the file stood still for %lld ms at most "
              "within a frame",
            shown, refused, torn,
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(longestPause).count()));
        QVERIFY2(torn == 0 || longestPause >= PICTURE_QUIET_TIME,
            "a torn frame shown while the writer never paused for the quiet time");
        QVERIFY(!mustShow || shown > 0);
    }

    void fileDatedAheadOfTheClockLoads()
    {
        const QImage picture = patternImage(8, 8);
        const QString path = fileWith("ahead.bmp", writeBmp(picture));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(
            QDateTime::currentDateTime().addSecs(3600), QFileDevice::FileModificationTime));
        file.close();
        PictureSurface surface = surfaceWithInterior(8, 8);
        surface.load(path);
        QCOMPARE(surface.readPixel(7, 7), colourAt(picture, 7, 7));
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
