#pragma once

#include "model/activity_log.h"
#include "model/date.h"
#include "model/preferred_output.h"

#include <QSettings>

#include <memory>
#include <optional>
#include <string>

namespace sonorel {

// The persisted state under its fixed keys ("monitoring", "preferredOutput",
// "lastWorkingOutput", "lastWake", "activity"). Reading never fails: a
// missing or undecodable value reads as its default and is left as it is
// until the user changes it.
class Preferences {
public:
    explicit Preferences(QSettings& settings) : m_settings(settings) {}

    bool monitoring() const;
    std::optional<PreferredOutput> preferredOutput() const;
    std::optional<PreferredOutput> lastWorkingOutput() const;
    std::optional<Date> lastWake() const;
    // None when a log is stored that is not a list of entries: writing over
    // it would lose it.
    std::optional<ActivityLog> activity() const;

    void setMonitoring(bool enabled);
    // None removes the key.
    void setPreferredOutput(const std::optional<PreferredOutput>& output);
    void setLastWorkingOutput(const PreferredOutput& output);
    void setLastWake(Date date);
    // Whether the log reached the file: false when it could not be written
    // or the file was refused (settingsRefusal).
    bool setActivity(const ActivityLog& log);
    // Removes the key rather than storing an empty list; as setActivity.
    bool clearActivity();

private:
    QSettings& m_settings;
};

// Far above what the app writes (a full activity log is a few hundred KiB),
// far below what would stall the window: the command line's input bound.
inline constexpr qint64 maximumSettingsSize = 8 * 1024 * 1024;

// The INI settings at `path`, once the file is known to be safe to read: a
// regular file (a FIFO would block the reader for good) of at most
// maximumSettingsSize, or none yet. Any other file is neither read nor
// written: empty settings in a new temporary directory stand in for it.
std::unique_ptr<QSettings> settingsAt(const QString& path);

// The user's own settings: settingsAt($XDG_CONFIG_HOME/sonorel-doctor/sonorel-doctor.conf).
std::unique_ptr<QSettings> userSettings();

// Why `settings` stand in for a file that was not read, as the start of the
// user's sentence ("The settings file … is not a regular file"); none for
// settings read from their file.
std::optional<std::string> settingsRefusal(const QSettings& settings);

// Settings for a run under "--ui-testing": an empty file in a new temporary
// directory that no later launch reuses, removed with the object. Null when
// no temporary directory can be made.
std::unique_ptr<QSettings> throwAwaySettings();

}  // namespace sonorel
