#pragma once

#include <string>

namespace sonorel {

// Shortest general form of a rate in kilohertz: 44100 gives "44.1", 48000 "48".
std::string kilohertzNumber(double hertz);
// The same followed by " kHz".
std::string kilohertzText(double hertz);
// A level from 0 to 1 as the whole percent a Linux mixer shows (the nearest;
// PulseAudio's 80 % step is 0.79998). Never outside 0 to 100.
int wholePercent(float level);

}  // namespace sonorel
