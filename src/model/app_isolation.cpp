#include "model/app_isolation.h"

namespace sonorel {

std::string AppIsolation::guidance() const
{
    using enum Result;
    if (reference == notTested || affected == notTested)
        return "Play Doctor’s quiet left/right tone, then compare the affected app on the same output. Report what "
               "you hear below.";
    if (reference == clear && affected != clear)
        return "Doctor’s tone is clear. Check the app’s mute, selected output, and website tab mute. Reselect its "
               "output, then reopen the app if needed. For input problems, check its microphone permission. A "
               "browser process does not identify an individual tab.";
    if (reference == clear)
        return "Both tests sound clear. Reproduce the original problem and mark its time in Activity. A quiet test "
               "cannot rule out intermittent glitches under load.";
    if (otherOutput == clear)
        return "The first output needs closer inspection. Check its cable, receiver volume, speaker mapping, and "
               "supported format. Persistent distortion on only that device may need vendor or hardware support.";
    return "The problem also affects Doctor’s tone. Compare another output, inspect device controls, and try Playback "
           "Quick Fix. If overloads recur, increase the affected app’s audio buffer gradually; this increases latency.";
}

}  // namespace sonorel
