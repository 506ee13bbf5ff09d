#include "audio/repair_coordinator.h"
#include "support/scripted_audio_system.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::testing;

TEST(smoke, unmute_runs)
{
    auto speakers = fixtures::output(1, "Speakers");
    speakers.isMuted = true;
    ScriptedAudioSystem audio(fixtures::snapshot({speakers}, 1, 0, 1));
    ScriptedRestarter restarter;
    ScriptedPause pause;
    RepairCoordinator coordinator(audio, restarter, std::ref(pause));
    EXPECT_EQ(runNow(coordinator.perform(RepairAction::unmute, std::nullopt, std::nullopt)),
              "Output is unmuted. Existing volume was preserved; a zero volume was raised to 25%.");
    EXPECT_EQ(coordinator.lastChanges().size(), 1u);
    coordinator.undo(coordinator.lastChanges());
    EXPECT_EQ(audio.state.devices[0].isMuted, true);
    auto s = audio.state;
    s.devices[0].isMuted = false;
    ScriptedAudioSystem fine(s);
    RepairCoordinator c2(fine, restarter, std::ref(pause));
    EXPECT_THROW(runNow(c2.perform(RepairAction::unmute, std::nullopt, std::nullopt)), AudioRepairError);
}
