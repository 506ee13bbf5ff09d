#pragma once

#include "model/enum_text.h"

namespace sonorel {

enum class AudioDirection { input, output };

inline constexpr EnumTexts<AudioDirection, 2> audioDirectionNames{{
    {AudioDirection::input, "input"},
    {AudioDirection::output, "output"},
}};

constexpr std::string_view caseName(AudioDirection direction)
{
    return textOf(audioDirectionNames, direction);
}

}  // namespace sonorel
