#include "settings.h"

#include "logging.h"
#include "whole_file.h"
#include "worker_thread.h"

#include <QBuffer>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

namespace tirvel {

namespace {

const QString WATCHING = QStringLiteral("watching");
const QString SENSITIVITY = QStringLiteral("sensitivity");
const QString MASK = QStringLiteral("mask");
const QString MASK_FILE = QStringLiteral("mask.png");
// The options a file may keep; the rest belong to a run, or to the service's own file.
const QStringList KEPT_OPTIONS {SENSITIVITY, QStringLiteral("detection"), QStringLiteral("camera"),
    QStringLiteral("events"), QStringLiteral("event-gap"), QStringLiteral("keep-events"),
    QStringLiteral("keep-megabytes"), QStringLiteral("on-event"), MASK};

// An unquoted comma makes a list of a value; every option here takes one text.
QString textOf(const QVariant &value)
{
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                    : value.toString();
}

} // namespace

QString settingsFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("tirvel/tirvel.conf"));
}

SavedSettings readSettings(const QString &file, const QString &programDirectory)
{
    SavedSettings saved;
    if (file.isEmpty() || !QFileInfo::exists(file))
        return saved;
    const QSettings kept(file, QSettings::IniFormat);
    if (kept.status() != QSettings::NoError) {
        saved.problems << QStringLiteral("The settings in '%1' cannot be read; Tirvel starts "
                                         "as new and keeps nothing until the file is mended.")
                              .arg(file);
        return saved;
    }
    for (const QString &key : kept.allKeys()) {
        const QString value = textOf(kept.value(key));
        if (key == WATCHING) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                saved.problems << QStringLiteral("The setting watching in '%1' is true or "
                                                 "false, not '%2'; it is left out.")
                                      .arg(file, value);
            continue;
        }
        if (!KEPT_OPTIONS.contains(key)) {
            saved.problems << QStringLiteral("'%1' in '%2' is not a setting Tirvel keeps; it is "
                                             "left out.")
                                  .arg(key, file);
            continue;
        }
        // Checked alone, so that one wrong value leaves the others in use.
        const QStringList option {QStringLiteral("--") + key, value};
        const CommandLine checked
            = parseCommandLine(QStringList {QStringLiteral("tirvel")} + option, programDirectory);
        if (checked.action == CommandLine::Action::Fail) {
            saved.problems << QStringLiteral("The setting %1 in '%2' is left out: %3")
                                  .arg(key, file, checked.message);
            continue;
        }
        saved.arguments << option;
    }
    return saved;
}

QStringList withKeptOptions(const QStringList &arguments, const SavedSettings &saved)
{
    return arguments.mid(0, 1) + saved.arguments + arguments.mid(1);
}

Settings::Settings(const QString &file, int sensitivity, WorkerThread *writer, QObject *parent)
    : QObject(parent)
    , m_sensitivity(sensitivity)
{
    if (file.isEmpty())
        return;
    m_file = new QSettings(file, QSettings::IniFormat);
    // A file that could not be read is the person's to mend; writing over it would lose it.
    if (m_file->status() != QSettings::NoError) {
        delete m_file;
        m_file = nullptr;
        return;
    }
    m_watching = textOf(m_file->value(WATCHING)) == QLatin1String("true");
    if (writer != nullptr)
        writer->adopt(m_file);
    else
        m_ownsFile = true;
}

Settings::~Settings()
{
    if (m_ownsFile)
        delete m_file;
}

void Settings::setSensitivity(int sensitivity)
{
    if (sensitivity == m_sensitivity)
        return;
    m_sensitivity = sensitivity;
    keep(SENSITIVITY, sensitivity);
    Q_EMIT sensitivityChanged(sensitivity);
}

void Settings::setWatching(bool watching)
{
    if (watching == m_watching)
        return;
    m_watching = watching;
    keep(WATCHING, watching);
}

void Settings::setMask(const QImage &mask)
{
    if (m_file == nullptr)
        return;
    QMetaObject::invokeMethod(m_file, [file = m_file, mask] {
        const QString path = QFileInfo(file->fileName()).dir().filePath(MASK_FILE);
        if (mask.isNull()) {
            file->remove(MASK);
            file->sync();
            QFile::remove(path);
            return;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        mask.save(&buffer, "PNG");
        QDir().mkpath(QFileInfo(path).path());
        if (const QString trouble = storeWhole(path, png); !trouble.isEmpty()) {
            qCWarning(lcSettings, "the mask cannot be kept (%s); it holds for this run",
                qUtf8Printable(trouble));
            return;
        }
        file->setValue(MASK, path);
        file->sync();
    });
}

void Settings::keep(const QString &key, const QVariant &value)
{
    if (m_file == nullptr)
        return;
    QMetaObject::invokeMethod(m_file, [file = m_file, key, value] {
        file->setValue(key, value);
        file->sync();
        // Said once until a write succeeds; the mark stays with the file, on its thread.
        const char *failingMark = "failing";
        const bool failing = file->status() != QSettings::NoError;
        if (failing && !file->property(failingMark).toBool())
            qCWarning(lcSettings, "the settings cannot be kept in '%s'; they hold for this run",
                qUtf8Printable(file->fileName()));
        file->setProperty(failingMark, failing);
    });
}

} // namespace tirvel
