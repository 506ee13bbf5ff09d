#include "model/audio_configuration_change.h"

#include <algorithm>

namespace sonorel {

std::vector<AudioConfigurationChange> AudioConfigurationChange::changes(const AudioSnapshot& before,
                                                                        const AudioSnapshot& after)
{
    std::vector<AudioConfigurationChange> result;
    if (before.readError || after.readError)
        return result;
    const auto beforeSettings = before.settings();
    for (const auto& a : after.settings()) {
        auto b = std::find_if(beforeSettings.begin(), beforeSettings.end(),
                              [&a](const AudioSetting& candidate) { return candidate.isSameTarget(a); });
        if (b != beforeSettings.end() && !b->matches(a))
            result.push_back({*b, a});
    }
    return result;
}

}  // namespace sonorel
