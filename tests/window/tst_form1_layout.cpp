#include "bmp_writer.h"
#include "detection_state.h"
#include "fake_capture_view.h"
#include "form1.h"
#include "picture_box.h"
#include "test_main.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

struct Box
{
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    void add(int x, int y)
    {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
    }
    QRect rect() const { return QRect(QPoint(left, top), QPoint(right, bottom)); }
};

} // namespace

class TestForm1Layout : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;

    template <typename T = QWidget> T *control(const char *name)
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }

private slots:
    void init()
    {
        m_form = std::make_unique<Form1>(m_dir.path(), new FakeCaptureView, [] {});
    }

    void cleanup() { m_form.reset(); }

    void window()
    {
        QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tirvel"));
        QCOMPARE(m_form->minimumSize(), QSize(362, 445));
        QCOMPARE(m_form->maximumSize(), QSize(362, 445));
        QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");

        // The picture boxes stand at their places with the capture view's size after start-up.
        QTest::newRow("Command1") << "Command1"
                                  << "QPushButton"
                                  << "&Test" << QRect(18, 32, 73, 25);
        QTest::newRow("picBild") << "picBild"
                                 << "tirvel::PictureBox"
                                 << "" << QRect(18, 312, 160, 120);
        QTest::newRow("picBild2") << "picBild2"
                                  << "tirvel::PictureBox"
                                  << "" << QRect(194, 136, 160, 120);
        QTest::newRow("Command2") << "Command2"
                                  << "QPushButton"
                                  << "160x120" << QRect(18, 96, 57, 17);
        QTest::newRow("Command3") << "Command3"
                                  << "QPushButton"
                                  << "5 bild/sek" << QRect(120, 96, 57, 17);
        QTest::newRow("Slider1") << "Slider1"
                                 << "QSlider"
                                 << "" << QRect(202, 312, 153, 41);
        QTest::newRow("lblSens") << "lblSens"
                                 << "QLabel"
                                 << "Känslighet:" << QRect(210, 290, 83, 17);
        QTest::newRow("lblTirvelDe") << "lblTirvelDe"
                                     << "QLabel"
                                     << "" << QRect(26, 288, 161, 17);
        QTest::newRow("cmdExit") << "cmdExit"
                                 << "QPushButton"
                                 << "&Exit" << QRect(276, 32, 65, 25);
        QTest::newRow("ezVidCap1") << "ezVidCap1"
                                   << "tirvel::testing::FakeCaptureView"
                                   << "" << QRect(18, 136, 160, 120);
        QTest::newRow("Label1") << "Label1"
                                << "QLabel"
                                << "Videokamera fönster" << QRect(24, 118, 157, 15);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);

        QWidget *widget = control(qPrintable(name));
        QVERIFY2(widget != nullptr, qPrintable(name + " is missing"));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
        QTEST(widget->geometry(), "geometry");
        if (auto *button = qobject_cast<QPushButton *>(widget))
            QCOMPARE(button->text(), text);
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), text);
    }

    void tabOrderKeepsEveryControlsPlace()
    {
        const QStringList expected {"Command1", "picBild", "picBild2", "Command2", "Command3",
            "Slider1", "lblSens", "lblTirvelDe", "cmdExit", "ezVidCap1", "Label1"};
        QStringList chain;
        QWidget *widget = control("Command1");
        for (int i = 0; i < 40 && chain.size() < expected.size();
             ++i, widget = widget->nextInFocusChain()) {
            if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
                chain << widget->objectName();
        }
        QCOMPARE(chain, expected);

        // Tab itself passes over what takes no focus.
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        control("Command1")->setFocus();
        QStringList focused {"Command1"};
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            focused << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(focused, (QStringList {"Command1", "Command2", "Command3", "Slider1", "cmdExit"}));
    }

    void startingSettings()
    {
        auto *slider = control<QSlider>("Slider1");
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->value(), 50);
        QCOMPARE(slider->tickPosition(), QSlider::TicksBelow);

        auto *timer = m_form->findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(timer != nullptr);
        QCOMPARE(timer->interval(), 1000);
        QVERIFY(!timer->isActive());

        QVERIFY(control<QPushButton>("Command1")->isDefault());
        QVERIFY(!control<QPushButton>("cmdExit")->isDefault());

        auto *result = control<QLabel>("lblTirvelDe");
        QCOMPARE(result->text(), QString());
        QCOMPARE(result->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
        QCOMPARE(m_form->detectionState().changeCount, 0);
    }

    void pictureBoxesAtStart()
    {
        const PictureSurface &timed = control<PictureBox>("picBild")->surface();
        const PictureSurface &test = control<PictureBox>("picBild2")->surface();
        QCOMPARE(timed.border(), Border::Sunken3D);
        QCOMPARE(test.border(), Border::Flat);
        QCOMPARE(QSize(timed.interiorWidth(), timed.interiorHeight()), QSize(156, 116));
        QCOMPARE(QSize(test.interiorWidth(), test.interiorHeight()), QSize(158, 118));

        // The test frame shows its window-background colour everywhere.
        const ColourValue base = colourFromRgb32(m_form->palette().color(QPalette::Base).rgb());
        QCOMPARE(test.background(), base);
        for (int y = 0; y < 118; y += 3) {
            for (int x = 0; x < 158; x += 3)
                QCOMPARE(test.readPixel(x, y), base);
        }
        // The timed frame shows the start picture: purple ground, pale pink disc.
        QCOMPARE(
            timed.background(), colourFromRgb32(m_form->palette().color(QPalette::Button).rgb()));
        QCOMPARE(timed.readPixel(0, 0), 0x00990066u);
        QCOMPARE(timed.readPixel(26, 18), 0x00FFCCFFu);
    }

    void startPicture()
    {
        QFile file(QStringLiteral(":/tirvel/start.bmp"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto field = [&](qsizetype at, int size) {
            quint32 value = 0;
            for (int i = size - 1; i >= 0; --i)
                value = value << 8 | quint8(bytes[at + i]);
            return value;
        };
        QCOMPARE(field(bmp::BITS_PER_PIXEL, 2), 8u);
        const quint32 coloursUsed = field(bmp::COLOURS_USED, 4);
        QVERIFY2(coloursUsed == 256 || coloursUsed == 0, "the palette must have 256 entries");
        QCOMPARE(field(bmp::PIXELS_OFFSET, 4), quint32(bmp::PALETTE + 256 * 4));

        const QImage image = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(160, 120));
        QHash<QRgb, Box> boxes;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                boxes[image.pixel(x, y)].add(x, y);
        }
        QCOMPARE(boxes.size(), 4);
        QCOMPARE(boxes.value(qRgb(0x66, 0x00, 0x99)).rect(), QRect(0, 0, 160, 120));
        QCOMPARE(boxes.value(qRgb(0xFF, 0xCC, 0xFF)).rect(), QRect(QPoint(14, 6), QPoint(38, 30)));
        QCOMPARE(
            boxes.value(qRgb(0xFF, 0x00, 0x66)).rect(), QRect(QPoint(11, 14), QPoint(155, 112)));
        QCOMPARE(
            boxes.value(qRgb(0xFF, 0xCC, 0x00)).rect(), QRect(QPoint(87, 51), QPoint(105, 73)));
        // A filled block, and a line, not a filled area.
        QCOMPARE(image.pixel(96, 62), qRgb(0xFF, 0xCC, 0x00));
        QCOMPARE(image.pixel(87, 51), qRgb(0xFF, 0xCC, 0x00));
        int linePixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                linePixels += image.pixel(x, y) == qRgb(0xFF, 0x00, 0x66);
        }
        QVERIFY2(linePixels > 200 && linePixels < 1200, qPrintable(QString::number(linePixels)));
    }

    void marksSurviveRepaints()
    {
        auto *box = control<PictureBox>("picBild2");
        box->surface().writePixel(40, 30, MARK_COLOUR);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        for (int round = 0; round < 2; ++round) {
            box->repaint();
            const QImage shown = box->grab().toImage();
            // One pixel of flat border before the interior.
            QCOMPARE(shown.pixel(41, 31) | 0xFF000000u, 0xFF00C800u);
            QCOMPARE(shown.pixel(0, 0) | 0xFF000000u,
                m_form->palette().color(QPalette::WindowText).rgb());
            m_form->hide();
            m_form->show();
        }
        const QImage timed = control<PictureBox>("picBild")->grab().toImage();
        QCOMPARE(timed.pixel(2 + 26, 2 + 18) | 0xFF000000u, qRgb(0xFF, 0xCC, 0xFF));
    }
};

TIRVEL_TEST_MAIN(TestForm1Layout)
#include "tst_form1_layout.moc"
