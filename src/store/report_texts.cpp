#include "store/report_texts.h"

#include <QLocale>

#include <sys/utsname.h>

#include <fstream>

namespace sonorel {

namespace {

// A value of os-release: KEY=value, KEY="value" or KEY='value'.
std::string osReleaseValue(const std::filesystem::path& root, const std::string& key)
{
    for (const char* file : {"etc/os-release", "usr/lib/os-release"}) {
        std::ifstream lines(root / file);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with(key + "="))
                continue;
            std::string value = line.substr(key.size() + 1);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

}  // namespace

QDateTime localDateTime(Date date)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(milliseconds.count());
}

std::string systemDescription(const std::filesystem::path& root)
{
    std::string name = osReleaseValue(root, "PRETTY_NAME");
    if (name.empty())
        name = "Linux";
    utsname system{};
    if (uname(&system) == 0)
        name += std::string(" (kernel ") + system.release + ")";
    return name;
}

ReportDateTexts localeDateTexts()
{
    const auto render = [](QLocale::FormatType dateFormat) {
        return [dateFormat](Date date) {
            const QLocale locale;
            // The long time format is the one with seconds.
            const QString format = locale.dateFormat(dateFormat) + ' ' + locale.timeFormat(QLocale::LongFormat);
            return locale.toString(localDateTime(date), format).toStdString();
        };
    };
    return {render(QLocale::LongFormat), render(QLocale::ShortFormat)};
}

}  // namespace sonorel
