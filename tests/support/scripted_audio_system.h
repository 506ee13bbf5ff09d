#pragma once

// An in-memory sound server for driving the repair engine: writes are checked
// like the real server checks them and land in `state`, which every reading
// copies. Tests script the rest: slow or refused writes, devices that come
// and go, other apps, recordings and failed readings between two reads.

#include "audio/audio_repair_error.h"
#include "audio/audio_restarting.h"
#include "audio/audio_system.h"

#include <QCoro/QCoroTask>

#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace sonorel::testing {

using SettingFilter = std::function<bool(const AudioSetting&)>;

class ScriptedAudioSystem final : public AudioSystem {
public:
    explicit ScriptedAudioSystem(AudioSnapshot initial) : state(std::move(initial)) {}

    // What the server holds now; the next reading shows it.
    AudioSnapshot state;
    // Every write the server accepted, in order (device selections and rate
    // writes included, as the settings they make).
    std::vector<AudioSetting> writes;
    int reads = 0;
    int stopMonitoringCalls = 0;

    // Runs `change` on the server just before reading number `read` (counted
    // from the first reading of this object, starting at 1) is taken.
    void beforeRead(int read, std::function<void(AudioSnapshot&)> change);
    // Reading number `read` fails with this message; the server keeps its state.
    void failRead(int read, std::string message = "The audio service is not running.");
    // Matching writes are accepted but show only from the `hiddenReads`+1-th reading on.
    void slowWrites(SettingFilter which, int hiddenReads);
    // Matching writes are refused with `error`.
    void refuseWrites(SettingFilter which, AudioRepairError error);

    AudioSnapshot snapshot() override;
    void apply(const AudioSetting& setting) override;
    void setDefaultOutput(const std::string& uid) override { apply(AudioSetting::Output{uid}); }
    void setDefaultInput(const std::string& uid) override { apply(AudioSetting::Input{uid}); }
    void setNominalRate(const std::string& uid, double rate) override { apply(AudioSetting::Rate{uid, rate}); }
    void setCardProfile(const std::string& card, const std::string& profile) override
    {
        apply(AudioSetting::Profile{card, profile});
    }
    void startMonitoring(std::function<void()> onChange, std::function<void(Date)> onOverload) override
    {
        m_onChange = std::move(onChange);
        m_onOverload = std::move(onOverload);
    }
    void stopMonitoring() override
    {
        ++stopMonitoringCalls;
        m_onChange = nullptr;
        m_onOverload = nullptr;
    }
    void forgetOverloads() override
    {
        state.lastOverload.reset();
        state.overloadDates.clear();
    }
    bool isMonitoring() const { return bool(m_onChange); }
    // What a monitoring server reports; nothing while monitoring is off.
    void reportChange() const
    {
        if (m_onChange)
            m_onChange();
    }
    void reportOverload(Date at) const
    {
        if (m_onOverload)
            m_onOverload(at);
    }

private:
    struct Pending {
        AudioSetting setting;
        int hiddenReads;
    };
    std::map<int, std::vector<std::function<void(AudioSnapshot&)>>> m_beforeRead;
    std::map<int, std::string> m_failingReads;
    std::vector<std::pair<SettingFilter, int>> m_slow;
    std::vector<std::pair<SettingFilter, AudioRepairError>> m_refused;
    std::vector<Pending> m_pending;
    std::function<void()> m_onChange;
    std::function<void(Date)> m_onOverload;
};

// Writes a setting into a server state the way a sound server would. A
// Bluetooth card's profile decides its devices: high fidelity plays at 48 kHz
// without a microphone, a call profile at 16 kHz with one; each switch makes
// them anew, under new ids. Another card's profile replaces its devices with
// the profile's own.
void applyToState(AudioSnapshot& state, const AudioSetting& setting);

// Matches every setting of one case, optionally for one device.
template <typename Case>
SettingFilter settingsOf(std::optional<std::string> uid = std::nullopt)
{
    return [uid](const AudioSetting& s) {
        return std::holds_alternative<Case>(s.value) && (!uid || s.uid() == *uid);
    };
}

class ScriptedRestarter final : public AudioRestarting {
public:
    int restarts = 0;
    std::optional<AudioRepairError> error;
    // The service does not answer: the tool restarts only with the user's consent.
    bool unanswered = false;
    std::function<void()> onRestart;

    QCoro::Task<void> restart(bool evenIfNotAnswering = false) override;
};

// A pause that returns at once and counts; `during(n, …)` acts in the n-th pause.
class ScriptedPause {
public:
    int count = 0;
    void during(int pause, std::function<void()> action) { m_actions[pause] = std::move(action); }
    void throwDuring(int pause, std::exception_ptr error) { m_errors[pause] = std::move(error); }
    QCoro::Task<> operator()();

private:
    std::map<int, std::function<void()>> m_actions;
    std::map<int, std::exception_ptr> m_errors;
};

// The refusal a write meets; throws when the write is accepted instead.
inline AudioRepairError refusalOf(AudioSystem& audio, const AudioSetting& setting)
{
    try {
        audio.apply(setting);
    } catch (const AudioRepairError& error) {
        return error;
    }
    throw std::logic_error("the write was accepted");
}

// Runs a task that never really suspends (every pause returns at once) and
// returns its result or rethrows its error.
template <typename T>
T runNow(QCoro::Task<T> task)
{
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    auto capture = [](QCoro::Task<T> inner, std::optional<T>& out, std::exception_ptr& failure,
                      bool& finished) -> QCoro::Task<> {
        try {
            out = co_await std::move(inner);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    };
    auto wrapper = capture(std::move(task), result, error, done);
    if (!done)
        throw std::logic_error("the task suspended; scripted pauses never do");
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

}  // namespace sonorel::testing
