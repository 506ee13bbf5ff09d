#include "audio/audio_repair_error.h"
#include "audio/run_task.h"
#include "store/audio_thread.h"
#include "support/scripted_audio_system.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

// Results, errors and the changes of a failed repair all reach the caller.
TEST(audio_thread, readings_repairs_and_their_errors_come_back_to_the_caller)
{
    auto speakers = output(1, "Speakers");
    speakers.isMuted = true;
    speakers.volume = 0.0f;
    ScriptedAudioSystem* server = nullptr;
    AudioThread thread([&] {
        auto scripted = std::make_unique<ScriptedAudioSystem>(snapshot({speakers}, 1));
        // The unmute is written and verified; raising the silent volume is refused.
        scripted->refuseWrites(settingsOf<AudioSetting::Volume>(), AudioRepairError::unsupported());
        server = scripted.get();
        return AudioThread::Parts{std::move(scripted), std::make_unique<ScriptedRestarter>(),
                                  []() -> QCoro::Task<> { co_return; }};
    });

    EXPECT_EQ(runTask(thread.snapshot()).outputDevice()->uid, "uid-Speakers");
    const RepairOutcome outcome = runTask(thread.perform(RepairAction::unmute, std::nullopt, std::nullopt));
    EXPECT_FALSE(outcome.message);
    ASSERT_TRUE(outcome.failure);
    EXPECT_THROW(std::rethrow_exception(outcome.failure), AudioRepairError);
    const AudioSetting unmuted = AudioSetting::Mute{"uid-Speakers", AudioDirection::output, 0, false};
    ASSERT_EQ(outcome.changes.size(), 1u);
    EXPECT_EQ(outcome.changes[0].after, unmuted);

    runTask(thread.undo(outcome.changes));
    EXPECT_EQ(runTask(thread.snapshot()).outputDevice()->isMuted, true);
    // Nothing to undo any more: the coordinator's refusal arrives as itself.
    try {
        runTask(thread.undo(outcome.changes));
        FAIL() << "undo ran twice";
    } catch (const AudioRepairError& error) {
        EXPECT_EQ(error, AudioRepairError::settingsChanged());
    }
    EXPECT_THROW(runTask(thread.setDefaultOutput("gone")), AudioRepairError);
    EXPECT_GE(server->reads, 4);
}

}  // namespace
