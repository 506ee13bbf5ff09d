#include "model/audio_card.h"

#include <algorithm>

namespace sonorel {

namespace {

bool startsWithEither(std::string_view name, std::string_view pulseAudio, std::string_view pipeWire)
{
    return name.starts_with(pulseAudio) || name.starts_with(pipeWire);
}

// The first of the highest priority among the profiles that `qualifies` accepts.
template <typename Predicate>
const CardProfile* bestProfile(const std::vector<CardProfile>& profiles, Predicate qualifies)
{
    const CardProfile* best = nullptr;
    for (const auto& profile : profiles)
        if (qualifies(profile) && (!best || profile.priority > best->priority))
            best = &profile;
    return best;
}

}  // namespace

CardProfileKind cardProfileKind(std::string_view name)
{
    if (name == "off")
        return CardProfileKind::off;
    if (startsWithEither(name, "a2dp_sink", "a2dp-sink"))
        return CardProfileKind::highFidelity;
    if (startsWithEither(name, "headset_head_unit", "headset-head-unit")
        || startsWithEither(name, "handsfree_head_unit", "handsfree-head-unit"))
        return CardProfileKind::call;
    return CardProfileKind::other;
}

std::string_view cardProfileKindText(CardProfileKind kind)
{
    switch (kind) {
    case CardProfileKind::highFidelity:
        return "high fidelity";
    case CardProfileKind::call:
        return "call";
    case CardProfileKind::off:
        return "off";
    case CardProfileKind::other:
        break;
    }
    return "other";
}

const CardProfile* AudioCard::profile(std::string_view profileName) const
{
    auto found = std::find_if(profiles.begin(), profiles.end(),
                              [&](const CardProfile& p) { return p.name == profileName; });
    return found == profiles.end() ? nullptr : &*found;
}

const CardProfile* AudioCard::bestHighFidelityProfile() const
{
    return bestProfile(profiles, [](const CardProfile& p) {
        return p.isAvailable && cardProfileKind(p.name) == CardProfileKind::highFidelity;
    });
}

bool AudioCard::listsProfileOf(CardProfileKind kind) const
{
    return std::any_of(profiles.begin(), profiles.end(),
                       [kind](const CardProfile& p) { return cardProfileKind(p.name) == kind; });
}

const CardProfile* AudioCard::bestOutputProfile() const
{
    // Pro Audio opens the raw channels without the card's mixer setup: no way
    // to make a laptop's speakers play for someone who just wants sound.
    return bestProfile(profiles, [this](const CardProfile& p) {
        return p.isAvailable && p.sinks > 0 && p.name != activeProfile && p.name != "pro-audio";
    });
}

bool AudioCard::offersOutput() const
{
    return std::any_of(profiles.begin(), profiles.end(), [](const CardProfile& p) { return p.sinks > 0; });
}

bool AudioCard::playsOutput() const
{
    const CardProfile* active = profile(activeProfile);
    return active && active->isAvailable && active->sinks > 0;
}

}  // namespace sonorel
