#pragma once

// The system log category of the audio side and the store, and the clock
// their readings and entries are dated by.

#include "model/date.h"

#include <QLoggingCategory>

#include <chrono>

namespace sonorel {

Q_DECLARE_LOGGING_CATEGORY(audioLog)

// The system clock, to the microsecond the model keeps.
inline Date systemNow()
{
    return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
}

}  // namespace sonorel
