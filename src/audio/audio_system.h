#pragma once

#include "model/audio_setting.h"
#include "model/audio_snapshot.h"

#include <functional>
#include <string>

namespace sonorel {

// Everything the logic reads from or writes to the audio configuration.
// Called on the Qt main thread only; implementations are long-lived objects
// shared by the store and the repair coordinator.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // A complete, fresh reading on every call. Never throws: a failed reading
    // comes back with `readError` set.
    virtual AudioSnapshot snapshot() = 0;

    // Writes exactly this setting. Returning means the server accepted the
    // write, not that a reading shows it yet: callers verify. Throws
    // AudioRepairError (deviceGone, streamGone, unsupported, system).
    virtual void apply(const AudioSetting& setting) = 0;

    // Select a device without the verification loop; errors as `apply`.
    virtual void setDefaultOutput(const std::string& uid) = 0;
    virtual void setDefaultInput(const std::string& uid) = 0;
    virtual void setNominalRate(const std::string& uid, double rate) = 0;
    // Switches a card (by its name) to one of its profiles; a Bluetooth device
    // keeps its uid, whatever sink or source the card offers then.
    virtual void setCardProfile(const std::string& card, const std::string& profile) = 0;

    // While on, `onChange` is called after the configuration changed (bursts
    // merged) and `onOverload` with the date of each playback overload, on
    // the thread the audio system lives on.
    virtual void startMonitoring(std::function<void()> onChange, std::function<void(Date)> onOverload) = 0;
    // Removes every listener monitoring installed; harmless when off.
    virtual void stopMonitoring() = 0;
    // Drops the overloads reported so far, so that a freshly restarted
    // service is not blamed for them.
    virtual void forgetOverloads() {}

    // A sentence added to a rate repair's result when a rate write reaches
    // beyond the one device (a sound server that clocks every device alike).
    virtual std::string rateChangeNote() const { return {}; }

protected:
    AudioSystem() = default;
    AudioSystem(const AudioSystem&) = delete;
    AudioSystem& operator=(const AudioSystem&) = delete;
};

}  // namespace sonorel
