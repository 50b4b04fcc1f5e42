#pragma once

#include "detection_rule.h"
#include "detection_state.h"
#include "mqtt_target.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

namespace tirvel {

// What the command line asks for. Started without options the program reads 5.bmp and 6.bmp
// beside itself and writes nothing.
struct CommandLine
{
    enum class Action { Run, ShowHelp, ShowVersion, ListCameras, Fail };

    Action action = Action::Run;
    // Help or version text to print, or what is wrong with the arguments.
    QString message;

    bool framesFromCamera = false;
    // Empty: the first camera there is.
    QString cameraName;
    // Where 5.bmp and 6.bmp are read, and written; with --frames-from-camera and no --directory,
    // empty until prepareFolders() finds the runtime folder.
    QString frameDirectory;

    // The rule every test decides by; by default steady while watching, classic otherwise.
    std::optional<DetectionRule> detection;
    // What the scene rule leaves out, black on white; null for nothing.
    QImage mask;
    static constexpr int DEFAULT_SENSITIVITY = tirvel::DEFAULT_SENSITIVITY;
    int sensitivity = DEFAULT_SENSITIVITY;

    // Watching from the start.
    bool watch = false;
    bool showEvents = false;
    // Where the pictures and the log of events go; not chosen, the pictures folder's Tirvel.
    QString eventFolder;
    bool eventFolderChosen = false;
    static constexpr int DEFAULT_EVENT_GAP_SECONDS = 10;
    int eventGapSeconds = DEFAULT_EVENT_GAP_SECONDS;
    static constexpr int DEFAULT_KEEP_EVENTS = 1000;
    int keepEvents = DEFAULT_KEEP_EVENTS;
    static constexpr int DEFAULT_KEEP_MEGABYTES = 2048;
    int keepMegabytes = DEFAULT_KEEP_MEGABYTES;
    // The program to run at each event, and its arguments; empty for none.
    QStringList eventCommand;

    // The MQTT broker, when one is given.
    std::optional<MqttTarget> mqtt;
    // Empty: the system's certificate authorities.
    QString mqttCaFile;
    // From --mqtt-password-file, or else TIRVEL_MQTT_PASSWORD; empty for none.
    QString mqttPassword;
    QString mqttName;
    // Empty for no discovery messages.
    QString mqttDiscoveryPrefix = QStringLiteral("homeassistant");

    // Where the choices made while running are kept (see settings.h); empty keeps nothing. Not an
    // option: main() names the user's file, a test a file of its own.
    QString settingsFile;
};

// What to say of the first argument that is not UTF-8, which no name can be turned back into.
std::optional<QString> findNonUtf8Argument(int argc, char *argv[]);

// Reads the arguments (the program's name first) with QCommandLineParser, and touches no folder.
CommandLine parseCommandLine(const QStringList &arguments, const QString &programDirectory);

} // namespace tirvel
