// What each rule makes of the rendered scenes that the steady rule's tests use: for every scene,
// the highest count of any test in it (each second's frame against the second before) and the
// first second a test detects at sensitivity 50 and 90, under the rule a click of Test has always
// had and under the steady rule.
//   steady_scenes

#include "detection_state.h"
#include "picture_surface.h"
#include "scenes.h"
#include "steady_rule.h"

#include <QGuiApplication>

#include <cstdio>

using namespace tirvel;
using tirvel::testing::colourSum;
using tirvel::testing::Scene;

namespace {

struct Seen
{
    int highest = 0;
    int first50 = -1;
    int first90 = -1;
};

Seen run(const Scene &scene, bool steady)
{
    Seen seen;
    const int seconds = scene.light == "fade" ? 60 : 20;
    for (int second = 1; second <= seconds; ++second) {
        PictureSurface timed(0);
        timed.setPicture(testing::sceneFrame(scene, second - 1, second - 1));
        timed.setInteriorSize({156, 116});
        PictureSurface test(0);
        test.setPicture(testing::sceneFrame(scene, second, second));
        test.setInteriorSize({158, 118});
        DetectionState state;
        state.setScanBounds({156, 116});
        if (steady)
            steadyScan(timed, test, state, colourSum);
        else
            state.scan(timed, test, colourSum);
        const int count = state.changeCount();
        seen.highest = std::max(seen.highest, count);
        if (seen.first50 < 0 && beatsSensitivity(count, 50))
            seen.first50 = second;
        if (seen.first90 < 0 && beatsSensitivity(count, 90))
            seen.first90 = second;
    }
    return seen;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication app(argc, argv);
    struct Row
    {
        const char *name = nullptr;
        Scene scene;
    };
    const Row rows[] = {
        {"light step +30 %", {"step up", "", 1, 3, 0, false}},
        {"light step -30 %", {"step down", "", 1, 3, 0, false}},
        {"lights out (to 20 %)", {"off", "", 1, 3, 0, false}},
        {"soft +30 % over half", {"soft half", "", 1, 3, 0, false}},
        {"60 s fade to half", {"fade", "", 1, 3, 0, false}},
        {"exposure hunting +-10 % / 2 s", {"hunting", "", 1, 3, 0, false}},
        {"flicker +-5 %", {"flicker", "", 1, 3, 0, false}},
        {"noise 2, bright", {"steady", "", 1, 3, 2, false}},
        {"noise 4, bright", {"steady", "", 1, 3, 4, false}},
        {"noise 4, dim", {"steady", "", 1, 3, 4, true}},
        {"noise 8, bright", {"steady", "", 1, 3, 8, false}},
        {"noise 8, dim", {"steady", "", 1, 3, 8, true}},
        {"dark person, 3 s", {"steady", "dark person", 1, 3, 0, false}},
        {"light person, 3 s", {"steady", "light person", 1, 3, 0, false}},
        {"same-sum person, 3 s", {"steady", "same-sum person", 1, 3, 0, false}},
        {"cat 8 x 6, 2 s", {"steady", "cat", 1, 2, 0, false}},
        {"noise 2, person at 15 s", {"steady", "dark person", 15, 3, 2, false}},
        {"pale person as a lamp lights half", {"soft half", "pale person", 2, 3, 0, false}},
    };
    std::printf(
        "%-36s %26s %26s\n", "scene", "classic: most, first@50/90", "steady: most, first@50/90");
    for (const Row &row : rows) {
        const Seen classic = run(row.scene, false);
        const Seen steady = run(row.scene, true);
        std::printf("%-36s %12d %6d %6d %12d %6d %6d\n", row.name, classic.highest, classic.first50,
            classic.first90, steady.highest, steady.first50, steady.first90);
    }
    return 0;
}
