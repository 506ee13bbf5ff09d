#pragma once

#include "diagnostics/diagnostic_report.h"

#include <QDateTime>

#include <filesystem>
#include <string>

namespace sonorel {

// "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-26-amd64)": PRETTY_NAME of
// os-release (under `root`) and the running kernel's release.
std::string systemDescription(const std::filesystem::path& root = "/");

// A stored date in local time, for display.
QDateTime localDateTime(Date date);

// The current locale's long and short date-with-seconds renderings, in local time.
ReportDateTexts localeDateTexts();

}  // namespace sonorel
