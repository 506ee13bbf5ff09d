#pragma once

// A repair coordinator over a scripted server, restarter and pause, for tests
// of repairs and undo. The server starts with built-in speakers, USB
// headphones (the default and alert output), a built-in microphone (the
// default input) and a Bluetooth headset; tests change `audio.state`.

#include "audio/audio_repair_error.h"
#include "audio/repair_coordinator.h"
#include "model/model_json.h"
#include "support/scripted_audio_system.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace sonorel {

// Failures show settings and changes in their stored form.
inline void PrintTo(const AudioConfigurationChange& change, std::ostream* os)
{
    *os << encodeChanges({change});
}

inline void PrintTo(const AudioSetting& setting, std::ostream* os)
{
    *os << nlohmann::json::parse(encodeChanges({{setting, setting}}))[0]["after"].dump();
}

}  // namespace sonorel

namespace sonorel::testing {

using S = AudioSetting;
using Change = AudioConfigurationChange;
inline constexpr auto outputSide = AudioDirection::output;
inline constexpr auto inputSide = AudioDirection::input;

// The sentences the user reads for the fixed error cases, asserted in full here only.
namespace sentence {
inline const std::string recordingActive =
    "A microphone or input device is in use. End the call or recording before changing the input or resetting audio.";
inline const std::string inputActivityUnknown =
    "Input activity could not be checked. Try again before resetting audio or changing the input.";
inline const std::string deviceGone = "The audio device disconnected. Reconnect it and run the check again.";
inline const std::string unsupported =
    "This device does not support that change. Use Sound settings or Volume Control.";
inline const std::string cancelled = "The audio service restart was cancelled. No reset was performed.";
inline const std::string recoveryFailed =
    "The expected audio settings or device could not be verified. Check Devices, reconnect if needed, and listen "
    "again.";
inline const std::string settingsChanged =
    "Audio settings changed during or after the repair. The operation stopped to preserve newer settings.";
}  // namespace sentence

class RepairHarness : public ::testing::Test {
protected:
    static constexpr AudioObjectID speakersID = 1;
    static constexpr AudioObjectID headphonesID = 2;
    static constexpr AudioObjectID microphoneID = 3;
    static constexpr AudioObjectID headsetID = 4;
    const std::string speakers = "uid-Speakers";
    const std::string headphones = "uid-Headphones";
    const std::string microphone = "uid-Built-in Microphone";
    const std::string headset = "uid-Headset";

    static AudioSnapshot initialState()
    {
        auto headsetDevice = fixtures::output(headsetID, "Headset", AudioTransport::bluetooth);
        headsetDevice.inputChannels = 1;
        headsetDevice.inputControls = {fixtures::control(0, 0.5f, false)};
        return fixtures::snapshot({fixtures::output(speakersID, "Speakers"),
                                   fixtures::output(headphonesID, "Headphones", AudioTransport::usb),
                                   fixtures::input(microphoneID, "Built-in Microphone"), headsetDevice},
                                  headphonesID, microphoneID, headphonesID);
    }

    ScriptedAudioSystem audio{initialState()};
    ScriptedRestarter restarter;
    ScriptedPause pause;
    RepairCoordinator coordinator{audio, restarter, std::ref(pause)};

    // The device with this id in the server's state.
    AudioDevice& device(AudioObjectID id)
    {
        for (auto& d : audio.state.devices)
            if (d.id == id)
                return d;
        throw std::logic_error("no such device in the scripted state");
    }

    // Back to the initial server, for table rows; the read count and any
    // scripted writes or readings go on.
    void resetServer()
    {
        audio.state = initialState();
        audio.writes.clear();
    }

    // What the user reads: the repair's message or its error's sentence.
    std::string outcome(RepairAction action, std::optional<PreferredOutput> preferredOutput = std::nullopt,
                        std::optional<PreferredOutput> lastWorkingOutput = std::nullopt)
    {
        return sentenceOf([&] {
            return runNow(coordinator.perform(action, std::move(preferredOutput), std::move(lastWorkingOutput)));
        });
    }

    // The error's sentence, or "undone".
    std::string undo(const std::vector<Change>& changes)
    {
        return sentenceOf([&] {
            coordinator.undo(changes);
            return std::string("undone");
        });
    }

    static std::string sentenceOf(const std::function<std::string()>& step)
    {
        try {
            return step();
        } catch (const AudioRepairError& error) {
            return error.description();
        }
    }
};

}  // namespace sonorel::testing
