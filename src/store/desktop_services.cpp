#include "store/desktop_services.h"

#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <fstream>
#include <utility>
#include <vector>

namespace sonorel {

namespace {

using Command = std::pair<QString, QStringList>;

std::vector<Command> toolsFor(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::sound:
        return {{"gnome-control-center", {"sound"}}, {"systemsettings", {"kcm_pulseaudio"}}, {"pavucontrol", {}},
                {"pavucontrol-qt", {}}};
    case SettingsPane::bluetooth:
        return {{"gnome-control-center", {"bluetooth"}}, {"systemsettings", {"kcm_bluetooth"}},
                {"blueman-manager", {}}};
    case SettingsPane::notifications:
        return {{"gnome-control-center", {"notifications"}}, {"systemsettings", {"kcm_notifications"}},
                {"xfce4-notifyd-config", {}}};
    case SettingsPane::microphonePrivacy:
        return {{"gnome-control-center", {"privacy"}}, {"systemsettings", {"kcm_pulseaudio"}}, {"pavucontrol", {}}};
    case SettingsPane::volumeControl:
        return {{"pavucontrol", {}}, {"pavucontrol-qt", {}}};
    }
    return {};
}

}  // namespace

std::string settingsPackageFor(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::bluetooth:
        return "blueman";
    case SettingsPane::notifications:
        return "gnome-control-center";
    default:
        return "pavucontrol";
    }
}

bool openInstalledSettingsPane(SettingsPane pane)
{
    for (const auto& [program, arguments] : toolsFor(pane))
        if (!QStandardPaths::findExecutable(program).isEmpty())
            return QProcess::startDetached(program, arguments);
    return false;
}

bool LaunchAtLogin::isEnabled() const
{
    std::ifstream entry(m_entry);
    if (!entry)
        return false;
    for (std::string line; std::getline(entry, line);)
        if (line == "Hidden=true")
            return false;
    return true;
}

bool LaunchAtLogin::setEnabled(bool enabled, const std::string& command) const
{
    std::error_code error;
    if (!enabled) {
        std::filesystem::remove(m_entry, error);
        return !error;
    }
    std::filesystem::create_directories(m_entry.parent_path(), error);
    // Started in the tray only: nobody asked for a window at login.
    QSaveFile file(QString::fromStdString(m_entry.string()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString("[Desktop Entry]\nType=Application\nName=Sonorel Doctor\nExec=" + command
                                         + " --background\nIcon=sonorel-doctor\nX-GNOME-Autostart-enabled=true\n"));
    return file.commit();
}

}  // namespace sonorel
