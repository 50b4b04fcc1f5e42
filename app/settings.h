#pragma once

#include "command_line.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

class QSettings;

namespace tirvel {

class WorkerThread;

// What was kept from earlier runs. The file holds options by their long names (sensitivity=80,
// camera=..., events=..., event-gap=..., keep-events=..., on-event=..., detection=...), each
// checked as the command line checks it, and whether Tirvel was watching when it last ended.
struct SavedSettings
{
    // The kept options as arguments, to go before the command line's own, which then win.
    QStringList arguments;
    // One line for each value that is not used, and why.
    QStringList problems;
};

// The file the choices are kept in: tirvel/tirvel.conf in the user's configuration folder.
QString settingsFile();
// Reads what is kept in file; a file that is missing or cannot be read keeps nothing.
SavedSettings readSettings(const QString &file, const QString &programDirectory);
// The arguments (the program's name first) with the kept options before the command line's own,
// so that the command line wins.
QStringList withKeptOptions(const QStringList &arguments, const SavedSettings &saved);

// The person's choices while Tirvel runs: the sensitivity and whether to watch, wherever they were
// changed (the window, the tray, the broker). A value from the command line holds for its run
// and is not written; a change made while running is written at once, on the writer's thread so
// that a slow home folder never holds up the window.
class Settings : public QObject
{
    Q_OBJECT

public:
    // sensitivity is the run's own, from its command line or kept; whether to watch is read
    // from file. Nothing is kept when file is empty. Without a writer, writes happen on the
    // caller's thread.
    Settings(const QString &file, int sensitivity, WorkerThread *writer = nullptr,
        QObject *parent = nullptr);
    ~Settings() override;

    int sensitivity() const { return m_sensitivity; }
    // Whether watching was on when Tirvel last ended, or as last asked since.
    bool watching() const { return m_watching; }

public Q_SLOTS:
    void setSensitivity(int sensitivity);
    void setWatching(bool watching);
    // The mask drawn in the window, written as mask.png beside the settings and kept by its
    // name; a null mask is forgotten, file and all.
    void setMask(const QImage &mask);

Q_SIGNALS:
    void sensitivityChanged(int sensitivity);

private:
    void keep(const QString &key, const QVariant &value);

    int m_sensitivity;
    bool m_watching = false;
    // Lives on the writer's thread once there is one.
    QSettings *m_file = nullptr;
    bool m_ownsFile = false;
};

} // namespace tirvel
