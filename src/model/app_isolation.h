#pragma once

#include "model/enum_text.h"

#include <optional>
#include <string>

namespace sonorel {

// The guided comparison of the Doctor's tone with an affected app: the
// user's own ratings, nothing measured. Not persisted.
struct AppIsolation {
    enum class Result { notTested, clear, faulty, silent };

    std::string appName;
    Result reference = Result::notTested;
    Result affected = Result::notTested;
    Result otherOutput = Result::notTested;
    std::optional<std::string> referenceOutputUID;
    std::optional<std::string> referenceOutputName;

    // The verdict the three ratings lead to.
    std::string guidance() const;

    bool operator==(const AppIsolation&) const = default;
};

// Shown by label, in picker order.
inline constexpr EnumTexts<AppIsolation::Result, 4> isolationResultLabels{{
    {AppIsolation::Result::notTested, "Not tested"},
    {AppIsolation::Result::clear, "Clear"},
    {AppIsolation::Result::faulty, "Crackling / distorted"},
    {AppIsolation::Result::silent, "Silent"},
}};

constexpr std::string_view label(AppIsolation::Result result)
{
    return textOf(isolationResultLabels, result);
}

}  // namespace sonorel
