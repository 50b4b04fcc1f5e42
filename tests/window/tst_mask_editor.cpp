#include "mask_editor.h"
#include "test_main.h"

#include <QPushButton>

using namespace tirvel;

// A drag leaves out what it covers of the camera's picture, wherever and however large the
// picture is shown; a right drag takes part of it back.
class TestMaskEditor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dragsMarkThePartsOfThePicture()
    {
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(Qt::gray);
        MaskEditor editor(picture, {});
        MaskCanvas &canvas = editor.canvas();
        // Twice the picture's size, with a band of ground above and below it: picture pixel
        // (x, y) is at (2x, 2y + 50).
        canvas.resize(640, 580);
        const auto drag = [&canvas](QPoint from, QPoint to, Qt::MouseButton button) {
            QTest::mousePress(&canvas, button, {}, from);
            QTest::mouseMove(&canvas, to);
            QTest::mouseRelease(&canvas, button, {}, to);
        };
        drag({100, 150}, {300, 250}, Qt::LeftButton);
        drag({200, 200}, {300, 250}, Qt::RightButton);

        const QImage mask = editor.mask();
        QCOMPARE(mask.size(), picture.size());
        const auto leftOut = [&mask](int x, int y) { return qGray(mask.pixel(x, y)) < 128; };
        QVERIFY(leftOut(55, 55) && leftOut(145, 70) && leftOut(95, 95));
        QVERIFY(!leftOut(45, 55) && !leftOut(155, 55) && !leftOut(55, 45));
        QVERIFY(!leftOut(105, 85) && !leftOut(145, 95));

        editor.findChild<QPushButton *>("clearMaskButton")->click();
        QVERIFY(editor.mask().isNull());
    }
};

TIRVEL_TEST_MAIN(TestMaskEditor)
#include "tst_mask_editor.moc"
