#include "store/preferences.h"

#include "model/model_json.h"

#include <QDir>
#include <QTemporaryDir>

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

ActivityLog Preferences::activity() const
{
    return decoded(m_settings, activityKey, decodeActivityLog).value_or(ActivityLog{});
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

void Preferences::setActivity(const ActivityLog& log)
{
    m_settings.setValue(activityKey, QString::fromStdString(encodeActivityLog(log)));
}

void Preferences::clearActivity()
{
    m_settings.remove(activityKey);
}

std::unique_ptr<QSettings> userSettings()
{
    // On Linux the native format is INI, in a file named .conf.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("sonorel-doctor"),
                                       QStringLiteral("sonorel-doctor"));
}

namespace {

struct TemporaryDirectory {
    QTemporaryDir dir{QDir::temp().filePath(QStringLiteral("sonorel-doctor-uitest-XXXXXX"))};
};

// The directory is a base before QSettings so that it outlives the settings' last write.
class ThrowAwaySettings final : private TemporaryDirectory, public QSettings {
public:
    ThrowAwaySettings() : QSettings(dir.filePath(QStringLiteral("sonorel-doctor.conf")), QSettings::IniFormat) {}
    bool valid() const { return dir.isValid(); }
};

}  // namespace

std::unique_ptr<QSettings> throwAwaySettings()
{
    auto settings = std::make_unique<ThrowAwaySettings>();
    if (!settings->valid())
        return nullptr;
    return settings;
}

}  // namespace sonorel
