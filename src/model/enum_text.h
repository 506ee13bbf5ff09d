#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace sonorel {

// A closed enumeration's texts: one row per case, in declaration order.
template <typename Enum, size_t N>
using EnumTexts = std::array<std::pair<Enum, std::string_view>, N>;

template <typename Enum, size_t N>
constexpr std::string_view textOf(const EnumTexts<Enum, N>& table, Enum value)
{
    for (const auto& [candidate, text] : table)
        if (candidate == value)
            return text;
    return {};
}

template <typename Enum, size_t N>
constexpr std::optional<Enum> fromText(const EnumTexts<Enum, N>& table, std::string_view text)
{
    for (const auto& [candidate, candidateText] : table)
        if (candidateText == text)
            return candidate;
    return std::nullopt;
}

template <typename Enum, size_t N>
constexpr std::array<Enum, N> casesOf(const EnumTexts<Enum, N>& table)
{
    std::array<Enum, N> cases{};
    for (size_t i = 0; i < N; ++i)
        cases[i] = table[i].first;
    return cases;
}

}  // namespace sonorel
