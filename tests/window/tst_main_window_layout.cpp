#include "bmp_writer.h"
#include "detection_state.h"
#include "detector.h"
#include "fake_capture_view.h"
#include "frame_files.h"
#include "main_window.h"
#include "picture_box.h"
#include "test_main.h"

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tirvel;
using namespace tirvel::testing;

namespace {

const QStringList CONTROLS {"Command1", "picBild", "picBild2", "Command2", "Command3", "Slider1",
    "lblSens", "lblTirvelDe", "cmdExit", "ezVidCap1", "Label1"};

QString caption(QWidget *widget)
{
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return QString(button->text()).remove(QLatin1Char('&'));
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    return {};
}

} // namespace

class TestMainWindowLayout : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Detector> m_detector;
    std::unique_ptr<MainWindow> m_window;

    template <typename T = QWidget> T *control(const QString &name)
    {
        return m_window->findChild<T *>(name);
    }

private Q_SLOTS:
    void init()
    {
        m_detector = std::make_unique<Detector>(framePaths(m_dir.path()), QString());
        m_window = std::make_unique<MainWindow>(m_detector.get(), new FakeCaptureView, [] {});
    }

    void cleanup()
    {
        m_window.reset();
        m_detector.reset();
    }

    void window()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("Form1"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Tirvel"));
        QCOMPARE(m_window->minimumSize(), QSize(362, 445));
        QCOMPARE(m_window->maximumSize(), QSize(362, 445));
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void controlsFitTheWindowWithoutOverlapping()
    {
        QList<QWidget *> widgets;
        for (const QString &name : CONTROLS) {
            QWidget *widget = control(name);
            QVERIFY2(widget != nullptr, qPrintable(name + " is missing"));
            QVERIFY2(m_window->rect().contains(widget->geometry()), qPrintable(name));
            for (QWidget *other : std::as_const(widgets)) {
                QVERIFY2(!widget->geometry().intersects(other->geometry()),
                    qPrintable(name + " overlaps " + other->objectName()));
            }
            widgets << widget;
        }
        // The live picture and the test frame stand side by side, the timed frame below.
        QCOMPARE(control("ezVidCap1")->geometry().top(), control("picBild2")->geometry().top());
        QVERIFY(control("picBild")->geometry().top() > control("ezVidCap1")->geometry().bottom());
    }

    void captionsFitTheirControls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");

        QTest::newRow("Command1") << "Command1"
                                  << "Test";
        QTest::newRow("Command2") << "Command2"
                                  << "160x120";
        QTest::newRow("Command3") << "Command3"
                                  << "5 bild/sek";
        QTest::newRow("cmdExit") << "cmdExit"
                                 << "Exit";
        QTest::newRow("lblSens") << "lblSens"
                                 << "Känslighet:";
        QTest::newRow("Label1") << "Label1"
                                << "Videokamera fönster";
        QTest::newRow("lblTirvelDe with the message") << "lblTirvelDe"
                                                      << "Rörelse har detekterats !";
    }

    void captionsFitTheirControls()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QWidget *widget = control(name);
        if (!caption(widget).isEmpty())
            QCOMPARE(caption(widget), text);
        // A push button's bevel takes a few pixels on each side.
        const int room = widget->width() - (qobject_cast<QPushButton *>(widget) ? 4 : 0);
        const int needed = widget->fontMetrics().horizontalAdvance(text);
        QVERIFY2(needed <= room,
            qPrintable(QStringLiteral("%1 needs %2 of %3 pixels").arg(name).arg(needed).arg(room)));
        QVERIFY(widget->fontMetrics().height() <= widget->height());
    }

    void tabMovesThroughTheControlsThatTakeFocus()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        control("Command1")->setFocus();
        QStringList focused {"Command1"};
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            focused << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(focused,
            (QStringList {"Command1", "Command2", "Command3", "Slider1", "cmdExit", "Command1"}));
    }

    void accessKeysPressTheirButtons_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<QString>("button");

        QTest::newRow("Alt+T") << Qt::Key_T << "Command1";
        QTest::newRow("Alt+E") << Qt::Key_E << "cmdExit";
    }

    void accessKeysPressTheirButtons()
    {
        QFETCH(Qt::Key, key);
        QFETCH(QString, button);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QSignalSpy clicks(control<QPushButton>(button), &QPushButton::clicked);
        QTest::keyClick(m_window->windowHandle(), key, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 1, 2000);
    }

    void liveViewTellsWhyNoPictureShows()
    {
        auto *view = m_window->findChild<FakeCaptureView *>();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view);
        QVERIFY(accessible != nullptr);
        view->placeholder = QStringLiteral("Ingen kamera");
        QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("Ingen kamera"));
        view->placeholder.clear();
        QVERIFY(!accessible->text(QAccessible::Description).isEmpty());
        QVERIFY(accessible->text(QAccessible::Description) != QStringLiteral("Ingen kamera"));
    }

    void startingSettings()
    {
        auto *slider = control<QSlider>("Slider1");
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->value(), 50);
        QCOMPARE(slider->tickPosition(), QSlider::TicksBelow);

        auto *timer = m_detector->findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(timer != nullptr);
        QCOMPARE(timer->interval(), 1000);
        QVERIFY(!timer->isActive());

        QVERIFY(control<QPushButton>("Command1")->isDefault());
        QVERIFY(!control<QPushButton>("cmdExit")->isDefault());

        auto *result = control<QLabel>("lblTirvelDe");
        QCOMPARE(result->text(), QString());
        QCOMPARE(result->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
        QCOMPARE(m_detector->changeCount(), 0);
    }

    void pictureBoxesAtStart()
    {
        const PictureSurface &timed = m_detector->timedFrame();
        const PictureSurface &test = m_detector->testFrame();

        // The test frame shows its window-background colour everywhere.
        const ColourValue base = colourFromRgb32(m_window->palette().color(QPalette::Base).rgb());
        QCOMPARE(control<PictureBox>("picBild2")->background(),
            m_window->palette().color(QPalette::Base));
        QCOMPARE(test.background(), base);
        for (int y = 0; y < test.interiorSize().height(); y += 3) {
            for (int x = 0; x < test.interiorSize().width(); x += 3)
                QCOMPARE(test.readPixel(x, y), base);
        }
        // The timed frame shows the start picture: purple ground, pale pink disc.
        QCOMPARE(
            timed.background(), colourFromRgb32(m_window->palette().color(QPalette::Button).rgb()));
        QCOMPARE(timed.readPixel(0, 0), 0x00990066u);
        QCOMPARE(timed.readPixel(26, 18), 0x00FFCCFFu);
    }

    void startPictureIsAnEightBitBitmap()
    {
        QFile file(QStringLiteral(":/tirvel/start.bmp"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(quint8(bytes[bmp::BITS_PER_PIXEL]), quint8(8));
        const QImage image = QImage::fromData(bytes);
        QCOMPARE(image.format(), QImage::Format_Indexed8);
        QCOMPARE(image.colorCount(), 256);
    }

    void marksSurviveRepaints()
    {
        auto *box = control<PictureBox>("picBild2");
        QImage marked(158, 118, QImage::Format_RGB32);
        marked.fill(Qt::white);
        marked.setPixel(40, 30, rgb32FromColour(MARK_COLOUR));
        box->setPicture(marked);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        for (int round = 0; round < 2; ++round) {
            box->repaint();
            const QImage shown = box->grab().toImage();
            // One pixel of flat border before the interior.
            QCOMPARE(shown.pixel(41, 31) | 0xFF000000u, 0xFF00C800u);
            QCOMPARE(shown.pixel(0, 0) | 0xFF000000u,
                m_window->palette().color(QPalette::WindowText).rgb());
            m_window->hide();
            m_window->show();
        }
        const QImage timed = control<PictureBox>("picBild")->grab().toImage();
        QCOMPARE(timed.pixel(2 + 26, 2 + 18) | 0xFF000000u, qRgb(0xFF, 0xCC, 0xFF));
    }
};

TIRVEL_TEST_MAIN(TestMainWindowLayout)
#include "tst_main_window_layout.moc"
