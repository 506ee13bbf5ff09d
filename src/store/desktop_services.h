#pragma once

// What the store asks of the desktop, each behind a small interface so that
// the store's tests need no display: the clipboard, a save dialog, settings
// panes and the login autostart entry.

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

// volumeControl: the mixer with every device and stream (pavucontrol).
enum class SettingsPane { sound, bluetooth, notifications, microphonePrivacy, volumeControl };

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual void copyText(const std::string& text) = 0;
    // The file the user chose to save the report as; none when cancelled.
    virtual std::optional<QString> chooseReportFile(const QString& proposedName) = 0;
    // Opens a settings pane; false when no tool for it is installed.
    virtual bool openSettingsPane(SettingsPane pane) = 0;

protected:
    DesktopServices() = default;
    DesktopServices(const DesktopServices&) = delete;
    DesktopServices& operator=(const DesktopServices&) = delete;
};

// The package that brings a tool for `pane`, for the notice when none is installed.
std::string settingsPackageFor(SettingsPane pane);

// Opens the first installed of a short list of tools for the pane (GNOME,
// KDE, Xfce/Blueman, pavucontrol); false when none is installed.
bool openInstalledSettingsPane(SettingsPane pane);

// The value of a desktop entry's Exec key that runs `arguments`: each with
// a reserved character (a space, a quote, `$`, …) in double quotes with `"`,
// backtick, `$` and `\` escaped, every `%` doubled, then the whole escaped
// as a string value, as desktop entries ask (freedesktop.org desktop-entry format).
std::string desktopExecValue(const std::vector<std::string>& arguments);

// Launch at login through the XDG autostart entry
// `configHome`/autostart/sonorel-doctor.desktop, read and written as a file
// of its own, never through a link.
class LaunchAtLogin {
public:
    explicit LaunchAtLogin(std::filesystem::path configHome) : m_entry(std::move(configHome) / "autostart/sonorel-doctor.desktop") {}

    // The entry is a regular file, a desktop entry of an application,
    // neither hidden nor switched off for GNOME.
    bool isEnabled() const;
    // Writes or removes the entry; false when that failed.
    bool setEnabled(bool enabled, const std::string& command) const;

private:
    std::filesystem::path m_entry;
};

}  // namespace sonorel
