#include "store/desktop_services.h"

#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string_view>
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

namespace {

// Far above any desktop entry; what is larger is not ours.
constexpr off_t maximumEntrySize = 64 * 1024;

// The Exec key's reserved characters: an argument with one is quoted.
constexpr std::string_view reservedCharacters = " \t\n\"'\\><~|&;$*?#()`";

std::string execArgument(std::string_view argument)
{
    const bool quoted = argument.empty() || argument.find_first_of(reservedCharacters) != std::string_view::npos;
    std::string text = quoted ? "\"" : "";
    for (char c : argument) {
        if (c == '%')
            text += '%';
        else if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\'))
            text += '\\';
        text += c;
    }
    return quoted ? text + '"' : text;
}

std::string escapedStringValue(std::string_view value)
{
    std::string text;
    for (char c : value) {
        switch (c) {
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\r':
            text += "\\r";
            break;
        default:
            text += c;
        }
    }
    return text;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The text of the regular file at `path` itself (no link followed, a FIFO
// not waited on); none for anything else or anything too large to be an entry.
std::optional<std::string> entryText(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maximumEntrySize) {
        std::string bytes(size_t(info.st_size), '\0');
        if (::read(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()))
            text = std::move(bytes);
    }
    ::close(fd);
    return text;
}

// The keys of the [Desktop Entry] group.
std::map<std::string, std::string, std::less<>> desktopEntryKeys(std::string_view text)
{
    std::map<std::string, std::string, std::less<>> keys;
    bool inEntry = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with('['))
            inEntry = line == "[Desktop Entry]";
        else if (const auto equals = line.find('='); inEntry && !line.starts_with('#') && equals != line.npos)
            keys.emplace(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
    }
    return keys;
}

}  // namespace

std::string desktopExecValue(const std::vector<std::string>& arguments)
{
    std::string value;
    for (const auto& argument : arguments)
        value += (value.empty() ? "" : " ") + execArgument(argument);
    return escapedStringValue(value);
}

bool LaunchAtLogin::isEnabled() const
{
    const auto text = entryText(m_entry);
    if (!text)
        return false;
    const auto keys = desktopEntryKeys(*text);
    const auto value = [&](std::string_view key) {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string_view{} : std::string_view(found->second);
    };
    // The name of the file is ours; what is in it must be an entry that starts a program.
    return value("Type") == "Application" && !value("Exec").empty() && value("Hidden") != "true"
           && value("X-GNOME-Autostart-enabled") != "false";
}

bool LaunchAtLogin::setEnabled(bool enabled, const std::string& command) const
{
    std::error_code error;
    if (!enabled) {
        std::filesystem::remove(m_entry, error);
        return !error;
    }
    std::filesystem::create_directories(m_entry.parent_path(), error);
    // A link there is replaced, not written through (a dangling one would make its target).
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(m_entry, error)))
        std::filesystem::remove(m_entry, error);
    // Started in the tray only: nobody asked for a window at login.
    QSaveFile file(QString::fromStdString(m_entry.string()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString("[Desktop Entry]\nType=Application\nName=Sonorel Doctor\nExec="
                                         + desktopExecValue({command, "--background"})
                                         + "\nIcon=sonorel-doctor\nX-GNOME-Autostart-enabled=true\n"));
    return file.commit();
}

}  // namespace sonorel
