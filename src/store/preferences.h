#pragma once

#include "model/activity_log.h"
#include "model/date.h"
#include "model/preferred_output.h"

#include <QSettings>

#include <memory>
#include <optional>

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
    ActivityLog activity() const;

    void setMonitoring(bool enabled);
    // None removes the key.
    void setPreferredOutput(const std::optional<PreferredOutput>& output);
    void setLastWorkingOutput(const PreferredOutput& output);
    void setLastWake(Date date);
    void setActivity(const ActivityLog& log);
    // Removes the key rather than storing an empty list.
    void clearActivity();

private:
    QSettings& m_settings;
};

// The user's own settings: $XDG_CONFIG_HOME/sonorel-doctor/sonorel-doctor.conf.
std::unique_ptr<QSettings> userSettings();

// Settings for a run under "--ui-testing": an empty file in a new temporary
// directory that no later launch reuses, removed with the object. Null when
// no temporary directory can be made.
std::unique_ptr<QSettings> throwAwaySettings();

}  // namespace sonorel
