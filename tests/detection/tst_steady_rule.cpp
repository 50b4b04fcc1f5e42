#include "detection_state.h"
#include "picture_surface.h"
#include "scenes.h"
#include "steady_rule.h"
#include "test_main.h"

using namespace tirvel;
using tirvel::testing::colourSum;
using tirvel::testing::Scene;
using tirvel::testing::sceneFrame;

// Rendered scenes tested as watching tests them, each second's frame against the second before,
// with the frames the size of the window's boxes.
class TestSteadyRule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scenes_data()
    {
        QTest::addColumn<QString>("light");
        QTest::addColumn<QString>("mover");
        QTest::addColumn<double>("noise");
        QTest::addColumn<bool>("dim");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<double>("moverStart");
        // The first second a test detects, or -1 for none in the scene's 20 seconds (60 for the
        // fade).
        QTest::addColumn<int>("detectsFrom");
        for (const int sensitivity : {50, 90}) {
            const QByteArray at = " at " + QByteArray::number(sensitivity);
            for (const char *light :
                {"step up", "step down", "soft half", "fade", "hunting", "flicker"})
                QTest::newRow(light + at)
                    << light << "" << 0.0 << false << sensitivity << 1.0 << -1;
            // Light too far gone to even out is a change.
            QTest::newRow("lights out" + at) << "off"
                                             << "" << 0.0 << false << sensitivity << 1.0 << 3;
            for (const double noise : {4.0, 8.0}) {
                for (const bool dim : {false, true}) {
                    QTest::newRow(QByteArray::number(noise) + (dim ? " dim" : " bright") + at)
                        << "steady"
                        << "" << noise << dim << sensitivity << 1.0 << -1;
                }
            }
        }
        for (const char *person : {"dark person", "light person", "same-sum person"})
            QTest::newRow(person) << "steady" << person << 0.0 << false << 50 << 1.0 << 2;
        QTest::newRow("cat at 90") << "steady"
                                   << "cat" << 0.0 << false << 90 << 1.0 << 2;
        QTest::newRow("noise, then a person at 15 s")
            << "steady"
            << "dark person" << 2.0 << false << 50 << 15.0 << 16;
        // Seen in the very test a lamp lights the other half of the room.
        QTest::newRow("pale person as a lamp lights half the room")
            << "soft half"
            << "pale person" << 0.0 << false << 50 << 2.0 << 3;
    }

    void scenes()
    {
        QFETCH(QString, light);
        QFETCH(QString, mover);
        QFETCH(double, noise);
        QFETCH(bool, dim);
        QFETCH(int, sensitivity);
        QFETCH(double, moverStart);
        QFETCH(int, detectsFrom);
        const Scene scene {light, mover, moverStart, mover == "cat" ? 2.0 : 3.0, noise, dim};
        const int seconds = light == "fade" ? 60 : 20;
        int first = -1;
        for (int second = 1; second <= seconds && first < 0; ++second) {
            PictureSurface timed(0);
            timed.setPicture(sceneFrame(scene, second - 1, second - 1));
            timed.setInteriorSize({156, 116});
            PictureSurface test(0);
            test.setPicture(sceneFrame(scene, second, second));
            test.setInteriorSize({158, 118});
            DetectionState state;
            state.setScanBounds({156, 116});
            steadyScan(timed, test, state, colourSum);
            if (beatsSensitivity(state.changeCount(), sensitivity))
                first = second;
        }
        QCOMPARE(first, detectsFrom);
    }
};

TIRVEL_TEST_MAIN(TestSteadyRule)
#include "tst_steady_rule.moc"
