#pragma once

namespace tirvel {

class CameraSupervisor;
class Detector;
class FrameWriter;
class MainWindow;
class Watcher;

// The watcher hears what the detector and the camera say, holds back the detector's own tests
// while the camera is lost, and is started and stopped from the window.
void watchOver(Watcher &watcher, Detector &detector, CameraSupervisor &camera, MainWindow &window,
    FrameWriter *writer);

} // namespace tirvel
