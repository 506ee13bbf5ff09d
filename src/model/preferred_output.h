#pragma once

#include <string>

namespace sonorel {

// The output the user wants to keep; matched to devices by uid only.
struct PreferredOutput {
    std::string uid;
    std::string name;
    bool isBluetooth = false;
    bool operator==(const PreferredOutput&) const = default;
};

}  // namespace sonorel
