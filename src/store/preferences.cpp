#include "store/preferences.h"

#include "model/model_json.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <filesystem>

namespace sonorel {

namespace {

const QString monitoringKey = QStringLiteral("monitoring");
const QString preferredOutputKey = QStringLiteral("preferredOutput");
const QString lastWorkingOutputKey = QStringLiteral("lastWorkingOutput");
const QString lastWakeKey = QStringLiteral("lastWake");
const QString activityKey = QStringLiteral("activity");

// The JSON document stored under `key`, decoded; absent when missing or undecodable.
template <typename Decode>
auto decoded(const QSettings& settings, const QString& key, Decode decode)
    -> std::optional<decltype(decode(std::string_view{}))>
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    try {
        return decode(value.toString().toStdString());
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

// Why the file at `path` must not be read, as the start of the user's sentence.
std::optional<std::string> refusalOf(const QString& path)
{
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    std::error_code error;
    const auto type = std::filesystem::status(file, error).type();
    // Not there yet, or beyond our reach: QSettings neither blocks nor overreads on these.
    if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none)
        return std::nullopt;
    const std::string named = "The settings file " + path.toStdString();
    if (type != std::filesystem::file_type::regular)
        return named + " is not a regular file";
    if (std::filesystem::file_size(file, error) > uintmax_t(maximumSettingsSize) && !error)
        return named + " is over 8 MiB";
    return std::nullopt;
}

// Made through settings of their own: QSettings keeps its first error for
// good, and a write once the folder is fixed must count as saved. Settings
// on one file share their values, so `settings` sees the change at once.
template <typename Change>
bool written(const QSettings& settings, Change change)
{
    if (settingsRefusal(settings))
        return false;
    QSettings writer(settings.fileName(), settings.format());
    change(writer);
    writer.sync();
    return writer.status() == QSettings::NoError;
}

}  // namespace

bool Preferences::monitoring() const
{
    // INI stores a bool as the text "true" or "false"; anything else is not a bool.
    const QVariant value = m_settings.value(monitoringKey);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return value.toString() != QLatin1String("false");
}

std::optional<PreferredOutput> Preferences::preferredOutput() const
{
    return decoded(m_settings, preferredOutputKey, decodePreferredOutput);
}

std::optional<PreferredOutput> Preferences::lastWorkingOutput() const
{
    return decoded(m_settings, lastWorkingOutputKey, decodePreferredOutput);
}

std::optional<Date> Preferences::lastWake() const
{
    bool isNumber = false;
    const double seconds = m_settings.value(lastWakeKey).toDouble(&isNumber);
    // Beyond about ±285,000 years the microsecond count would overflow.
    if (!isNumber || !(std::abs(seconds) <= 9e12))
        return std::nullopt;
    return dateFromSecondsSinceReferenceDate(seconds);
}

std::optional<ActivityLog> Preferences::activity() const
{
    const QVariant value = m_settings.value(activityKey);
    if (!value.isValid())
        return ActivityLog{};
    try {
        return decodeActivityLog(value.toString().toStdString());
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

void Preferences::setMonitoring(bool enabled)
{
    m_settings.setValue(monitoringKey, enabled);
}

void Preferences::setPreferredOutput(const std::optional<PreferredOutput>& output)
{
    if (output)
        m_settings.setValue(preferredOutputKey, QString::fromStdString(encodePreferredOutput(*output)));
    else
        m_settings.remove(preferredOutputKey);
}

void Preferences::setLastWorkingOutput(const PreferredOutput& output)
{
    m_settings.setValue(lastWorkingOutputKey, QString::fromStdString(encodePreferredOutput(output)));
}

void Preferences::setLastWake(Date date)
{
    m_settings.setValue(lastWakeKey, secondsSinceReferenceDate(date));
}

bool Preferences::setActivity(const ActivityLog& log)
{
    const QString json = QString::fromStdString(encodeActivityLog(log));
    return written(m_settings, [&](QSettings& settings) { settings.setValue(activityKey, json); });
}

bool Preferences::clearActivity()
{
    return written(m_settings, [](QSettings& settings) { settings.remove(activityKey); });
}

namespace {

struct TemporaryDirectory {
    QTemporaryDir dir{QDir::temp().filePath(QStringLiteral("sonorel-doctor-uitest-XXXXXX"))};
};

// The directory is a base before QSettings so that it outlives the settings'
// last write. With a refusal it stands in for a file that was not read.
class ThrowAwaySettings final : private TemporaryDirectory, public QSettings {
public:
    explicit ThrowAwaySettings(std::optional<std::string> why = std::nullopt)
        : QSettings(dir.filePath(QStringLiteral("sonorel-doctor.conf")), QSettings::IniFormat), refusal(std::move(why))
    {
    }
    bool valid() const { return dir.isValid(); }

    const std::optional<std::string> refusal;
};

}  // namespace

std::unique_ptr<QSettings> settingsAt(const QString& path)
{
    if (auto refusal = refusalOf(path))
        return std::make_unique<ThrowAwaySettings>(std::move(refusal));
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

std::unique_ptr<QSettings> userSettings()
{
    // Where QSettings keeps an application's user settings on Linux, named
    // here so that the file can be looked at before it is read.
    return settingsAt(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                      + QStringLiteral("/sonorel-doctor/sonorel-doctor.conf"));
}

std::optional<std::string> settingsRefusal(const QSettings& settings)
{
    const auto* standIn = dynamic_cast<const ThrowAwaySettings*>(&settings);
    return standIn ? standIn->refusal : std::nullopt;
}

std::unique_ptr<QSettings> throwAwaySettings()
{
    auto settings = std::make_unique<ThrowAwaySettings>();
    if (!settings->valid())
        return nullptr;
    return settings;
}

}  // namespace sonorel
