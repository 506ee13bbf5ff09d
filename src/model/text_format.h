#pragma once

#include <string>

namespace sonorel {

// Shortest general form of a rate in kilohertz: 44100 gives "44.1", 48000 "48".
std::string kilohertzNumber(double hertz);
// The same followed by " kHz".
std::string kilohertzText(double hertz);

}  // namespace sonorel
