#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonorel {

struct Uuid {
    std::array<uint8_t, 16> bytes{};

    // Upper-case 8-4-4-4-12 form, as stored.
    std::string text() const;
    // The 8-4-4-4-12 form in either case.
    static std::optional<Uuid> fromText(std::string_view text);

    bool operator==(const Uuid&) const = default;
};

}  // namespace sonorel
