#pragma once

#include <string>
#include <string_view>

namespace sonorel {

// Shortest general form of a rate in kilohertz: 44100 gives "44.1", 48000 "48".
std::string kilohertzNumber(double hertz);
// The same followed by " kHz".
std::string kilohertzText(double hertz);
// ASCII letters in lower case; other bytes as they are.
std::string lowercased(std::string_view text);
// A level from 0 to 1 as the whole percent a Linux mixer shows (the nearest;
// PulseAudio's 80 % step is 0.79998). Never outside 0 to 100.
int wholePercent(float level);

}  // namespace sonorel
