#include "model/audio_card.h"

namespace sonorel {

namespace {

bool startsWithEither(std::string_view name, std::string_view pulseAudio, std::string_view pipeWire)
{
    return name.starts_with(pulseAudio) || name.starts_with(pipeWire);
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

const CardProfile* AudioCard::bestHighFidelityProfile() const
{
    const CardProfile* best = nullptr;
    for (const auto& profile : profiles)
        if (profile.isAvailable && cardProfileKind(profile.name) == CardProfileKind::highFidelity
            && (!best || profile.priority > best->priority))
            best = &profile;
    return best;
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

}  // namespace sonorel
