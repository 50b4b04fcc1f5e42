#include "scene_rule.h"
#include "test_main.h"

#include <QBuffer>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <map>

using namespace tirvel;

namespace {

// A 640 x 480 room as a webcam delivers it at 5 fps: lit by the scene's light, with noise that
// grows in the dark, then through JPEG at the scene's quality. Frames are kept as JPEG, so the
// row at the other sensitivity decodes the same ones.
QList<QByteArray> webcamScene(const QString &name)
{
    static std::map<QString, QList<QByteArray>> made;
    if (made.count(name) != 0)
        return made[name];
    const bool dark = name.contains("dim") || name.contains("dark") || name.contains("night")
        || name == "headlights";
    const int seconds = name.contains("stands") ? 40 : 18;
    cv::RNG random(7);
    cv::Mat room(480, 640, CV_32FC3, cv::Scalar(150, 165, 180));
    room.rowRange(300, 480).setTo(cv::Scalar(80, 120, 160));
    for (int x = 0; x < 640; x += 45)
        cv::line(room, {x, 300}, {x - 60, 480}, cv::Scalar(55, 85, 120), 3);
    cv::rectangle(room, {60, 60, 150, 110}, cv::Scalar(120, 60, 40), cv::FILLED);
    cv::rectangle(room, {420, 40, 140, 180}, cv::Scalar(230, 225, 215), cv::FILLED);
    cv::Mat grain(room.size(), CV_32FC3);
    random.fill(grain, cv::RNG::NORMAL, 0, 10);
    cv::GaussianBlur(grain, grain, {0, 0}, 1.5);
    room += grain;
    cv::Mat noises(540, 700, CV_32FC3);
    random.fill(noises, cv::RNG::NORMAL, 0, dark ? 6 : 2.5);
    QList<QByteArray> frames;
    for (int i = 0; i < seconds * 5; ++i) {
        const double t = i / 5.0;
        cv::Mat f = room.clone();
        // Light is drawn at a quarter size, in full size coordinates.
        cv::Mat light(120, 160, CV_32F, cv::Scalar(dark ? 0.28 : 1));
        auto person = [&](cv::Point at, cv::Size size, const cv::Scalar &colour) {
            cv::ellipse(f, at, size / 2, 0, 0, 360, colour, cv::FILLED);
            cv::circle(f, at - cv::Point(0, size.height * 5 / 8), size.width / 3, colour / 1.2,
                cv::FILLED);
        };
        const int walk = int(40 * (t - 4)) - 60;
        if (name == "plant" || name == "tv") {
            for (int leaf = 0; leaf < 14; ++leaf)
                cv::ellipse(f,
                    {30 + leaf * 7 + int(9 * std::sin(3 * t + leaf)), 400 - leaf * 9 % 70}, {22, 9},
                    leaf * 25 + 20 * std::sin(4 * t + leaf), 0, 360, cv::Scalar(40, 110, 50),
                    cv::FILLED);
            if (name == "tv")
                cv::rectangle(
                    f, {540, 250, 64, 48}, cv::Scalar::all(random.uniform(0, 255)), cv::FILLED);
        } else if (name == "white balance drift") {
            cv::multiply(
                f, cv::Scalar(1 + 0.15 * std::sin(t / 3), 1, 1 - 0.15 * std::sin(t / 3)), f);
        } else if (name == "banding") {
            for (int y = 0; y < 120; ++y)
                light.row(y) *= 1 + 0.08 * std::sin(2 * CV_PI * (y / 30.0 + 0.7 * t));
        } else if (name == "headlights") {
            cv::ellipse(light, {int(700 * std::fmod(t / 4, 1)), 160}, {130, 80}, 0, 0, 360,
                cv::Scalar(0.5), cv::FILLED, cv::LINE_8, 2);
        } else if (name == "cloud shadow") {
            cv::rectangle(light, {int(30 * t) - 500, 280, 500, 300}, cv::Scalar(0.55), cv::FILLED,
                cv::LINE_8, 2);
        } else if (name.contains("walks") || name.contains("lamp")) {
            person({walk, 280}, {60, 170},
                name.contains("dark") ? cv::Scalar(122, 137, 152) : cv::Scalar(60, 70, 110));
            if (name.contains("lamp") && t > 5)
                cv::circle(light, {0, 240}, 380, cv::Scalar(0.6), cv::FILLED, cv::LINE_8, 2);
        } else if (name.contains("stands")) {
            person({std::min(walk, 320) - std::max(0, int(40 * (t - 26))), 280}, {60, 170},
                cv::Scalar(60, 70, 110));
        } else if (name == "far person") {
            person({walk, 200}, {12, 22}, cv::Scalar(60, 70, 110));
        } else if (name == "cat") {
            cv::ellipse(f, {walk, 440}, {16, 12}, 0, 0, 360, cv::Scalar(40, 40, 40), cv::FILLED);
        }
        cv::GaussianBlur(light, light, {0, 0}, 6);
        cv::resize(light, light, f.size());
        cv::Mat lit;
        cv::merge(std::vector<cv::Mat> {light, light, light}, lit);
        f = f.mul(lit);
        if (name == "shake" && t > 6)
            cv::warpAffine(f, f,
                cv::Matx23d(1, 0, random.uniform(-2, 3), 0, 1, random.uniform(-2, 3)), f.size(),
                cv::INTER_NEAREST, cv::BORDER_REPLICATE);
        if (name == "night" && t > 8) {
            cv::cvtColor(f, f, cv::COLOR_BGR2GRAY);
            cv::cvtColor(f * 1.5, f, cv::COLOR_GRAY2BGR);
        }
        if (name == "covered" && t > 8)
            f.setTo(cv::Scalar::all(4));
        // Noise of a sensor's gain, more in the dark.
        const cv::Mat noise
            = noises(cv::Rect(random.uniform(0, 60), random.uniform(0, 60), 640, 480));
        cv::Mat shot;
        cv::sqrt(cv::max(f, 1) / 10, shot);
        f += noise.mul(shot + 0.5);
        cv::Mat bytes;
        f.convertTo(bytes, CV_8UC3);
        cv::cvtColor(bytes, bytes, cv::COLOR_BGR2BGRA);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImage(bytes.data, 640, 480, int(bytes.step), QImage::Format_RGB32)
            .save(&buffer, "JPEG", dark ? 50 : 75);
        frames.append(jpeg);
    }
    return made[name] = frames;
}

} // namespace

// Scenes as a webcam delivers them, watched frame by frame; detections grouped into events as
// the program does, a quiet gap of 10 s apart.
class TestSceneRule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scenes_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<int>("fewest");
        QTest::addColumn<int>("most");
        QTest::addColumn<bool>("note");
        for (const int s : {50, 90}) {
            const QByteArray at = " at " + QByteArray::number(s);
            for (const char *still : {"still dim", "white balance drift", "banding", "plant",
                     "shake", "headlights", "cloud shadow", "tv"})
                QTest::newRow(still + at) << still << s << 0 << 0 << false;
            QTest::newRow("night" + at) << "night" << s << 0 << 0 << true;
            for (const char *mover :
                {"walks dim", "walks dark in the dark", "lamp in a dim room", "covered"})
                QTest::newRow(mover + at) << mover << s << 1 << 1 << false;
            QTest::newRow("stands" + at) << "stands" << s << 1 << 2 << false;
        }
        QTest::newRow("far person at 90") << "far person" << 90 << 1 << 1 << false;
        QTest::newRow("cat at 90") << "cat" << 90 << 1 << 1 << false;
    }

    void scenes()
    {
        QFETCH(QString, scene);
        QFETCH(int, sensitivity);
        QFETCH(int, fewest);
        QFETCH(int, most);
        QFETCH(bool, note);
        const SamplePlacement samples = placeSamples({640, 480}, {160, 120}, {156, 116});
        SceneAnalyser analyser({});
        int events = 0;
        int notes = 0;
        int largest = 0;
        qint64 last = -100000;
        qint64 milliseconds = 0;
        for (const QByteArray &jpeg : webcamScene(scene)) {
            const SceneOutcome outcome
                = analyser.analyse(QImage::fromData(jpeg, "JPEG"), milliseconds, samples);
            notes += outcome.cameraMode ? 1 : 0;
            if (!outcome.learning && outcome.count > 100 - sensitivity) {
                events += milliseconds - last > 10000 ? 1 : 0;
                last = milliseconds;
            }
            largest = std::max(largest, outcome.count);
            milliseconds += 200;
        }
        qInfo() << scene << sensitivity << "events" << events << "largest" << largest;
        QVERIFY(events >= fewest && events <= most);
        QVERIFY(notes <= (note ? 1 : 0));
    }
};

TIRVEL_TEST_MAIN(TestSceneRule)
#include "tst_scene_rule.moc"
