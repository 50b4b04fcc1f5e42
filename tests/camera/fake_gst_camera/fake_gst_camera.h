#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cameras without hardware, for tests: a GStreamer device provider that Qt's own camera stack
// finds like any webcam. Every function may be called from any thread while GStreamer runs;
// none may be called from inside a GStreamer bus sync handler.
namespace tirvel::fakecam {

enum class FakeCameraMode {
    // Frames at 30 a second.
    Working,
    // The first element made for the device delivers one frame and then stays quiet in PLAYING;
    // later elements work. Like a sink that freezes after its first frame until restarted.
    FreezeFirst,
    // Starts without complaint and never delivers a frame.
    Silent,
    // Fails READY->PAUSED with "Device is busy", like a camera another program streams from.
    Busy,
    // Fails NULL->READY with permission denied, like a /dev/video node one may not open.
    Denied,
    // Frames at 30 a second of a picture that stands still: a scene where nothing moves.
    Still,
    // YUY2 or 4:2:0 frames of bands of GREY_RAMP_LEVELS as they are, whatever the caps' range.
    GreyRamp,
    // The JPEG files TIRVEL_FAKE_CAMERA_REPLAY names (a pattern such as /dir/%05d.jpg, counted
    // from 0), once, at the frame rate of the camera's caps, as a webcam's MJPEG; then no more.
    Replay,
};

inline constexpr std::array<std::uint8_t, 8> GREY_RAMP_LEVELS {0, 16, 32, 64, 128, 192, 235, 255};

// "working", "freeze-first", "silent", "busy", "denied", "still", "replay".
std::optional<FakeCameraMode> fakeCameraModeFromName(std::string_view name);

// What a device offers unless told otherwise: YUY2 at 640x480 and 160x120, 30 frames a second;
// a replaying one, JPEG at 640x480, 5 frames a second.
std::vector<std::string> defaultFakeCameraCaps(FakeCameraMode mode = FakeCameraMode::Working);

// Registers the provider with GStreamer as a static plugin, initialising GStreamer first when
// nobody has. Call it before Qt first asks for its media devices: Qt reads the providers once.
// Later calls do nothing.
void registerFakeCameraPlugin();

// Plugs a camera in. Its device.path is the same each time the same name is plugged in again,
// as a webcam replugged into the same port gets its old node back; Qt 6.4.2 numbers its ids
// itself. Each entry of caps is one caps string. Throws std::invalid_argument when the name is
// already plugged in or a caps string does not parse.
void addFakeCamera(const std::string &name, FakeCameraMode mode = FakeCameraMode::Working,
    const std::vector<std::string> &caps = defaultFakeCameraCaps());

// Pulls a camera out: the device is announced as removed, and elements it made stop delivering
// for good. A removed device someone still holds (Qt 6.4.2 keeps listing one of the two entries
// of a camera present at start) makes elements that fail to open, or, like a node reused by the
// replugged webcam, elements of the camera plugged in again under the same name.
// Throws std::invalid_argument when no camera of that name is plugged in.
void removeFakeCamera(const std::string &name);

// Changes the mode of a plugged-in camera. Running elements follow at once for the frames they
// deliver (a silent camera stops sending); busy and denied act on the next state change.
void setFakeCameraMode(const std::string &name, FakeCameraMode mode);

// The device.path of the camera's device; throws like removeFakeCamera.
std::string fakeCameraPath(const std::string &name);

// How many elements the plugged-in camera has made, so a test sees a restart.
int fakeCameraElementCount(const std::string &name);

// Frames the plugged-in camera's elements have let through, all elements together.
std::uint64_t fakeCameraFrameCount(const std::string &name);

} // namespace tirvel::fakecam
