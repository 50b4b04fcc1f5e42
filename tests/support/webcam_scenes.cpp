#include "webcam_scenes.h"

#include <QBuffer>
#include <QImage>

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace tirvel::testing {

QStringList webcamQuietScenes()
{
    return {"still dim", "white balance drift", "banding", "plant", "shake", "headlights",
        "cloud shadow", "tv", "night"};
}

QStringList webcamEventScenes()
{
    return {"walks dim", "walks dark in the dark", "lamp in a dim room", "covered", "stands"};
}

QStringList webcamTwoEventScenes()
{
    return {"bumped twice"};
}

QStringList webcamSmallScenes()
{
    return {"far person", "cat"};
}

QList<QByteArray> webcamSceneFrames(const QString &name)
{
    const bool dark = name.contains("dim") || name.contains("dark") || name.contains("night")
        || name == "headlights";
    const int seconds = name.contains("stands") ? 40 : name.contains("bumped") ? 30 : 18;
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
        if (name == "bumped twice" && t > 5)
            cv::warpAffine(f, f, cv::Matx23d(1, 0, t > 18 ? 4 : -14, 0, 1, t > 18 ? -3 : 6),
                f.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
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
    return frames;
}

} // namespace tirvel::testing
