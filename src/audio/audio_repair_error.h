#pragma once

#include <exception>
#include <string>

namespace sonorel {

// The one error of audio repairs and writes; `description()` is the sentence
// the user reads.
class AudioRepairError : public std::exception {
public:
    enum class Case {
        system,
        recordingActive,
        inputActivityUnknown,
        deviceGone,
        unsupported,
        cancelled,
        recoveryFailed,
        settingsChanged,
        streamGone,
        outputCaptureActive,
        serverNotAnswering,
    };

    static AudioRepairError system(std::string text) { return AudioRepairError(Case::system, std::move(text)); }
    static AudioRepairError recordingActive() { return AudioRepairError(Case::recordingActive); }
    static AudioRepairError inputActivityUnknown() { return AudioRepairError(Case::inputActivityUnknown); }
    static AudioRepairError deviceGone() { return AudioRepairError(Case::deviceGone); }
    static AudioRepairError unsupported() { return AudioRepairError(Case::unsupported); }
    static AudioRepairError cancelled() { return AudioRepairError(Case::cancelled); }
    static AudioRepairError recoveryFailed() { return AudioRepairError(Case::recoveryFailed); }
    static AudioRepairError settingsChanged() { return AudioRepairError(Case::settingsChanged); }
    // An app's stream ended (the app closed or restarted, and a number it had
    // may now be another's).
    static AudioRepairError streamGone() { return AudioRepairError(Case::streamGone); }
    // `apps` (their names, joined for a sentence) record what an output plays.
    static AudioRepairError outputCaptureActive(const std::string& apps)
    {
        return AudioRepairError(Case::outputCaptureActive, apps);
    }

    // The service gave no answer, so the restart needs the user's consent.
    static AudioRepairError serverNotAnswering() { return AudioRepairError(Case::serverNotAnswering); }

    Case errorCase() const { return m_case; }
    // For `system`, the carried text; otherwise the case's sentence.
    const std::string& description() const { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

    bool operator==(const AudioRepairError& other) const
    {
        return m_case == other.m_case && m_description == other.m_description;
    }

private:
    explicit AudioRepairError(Case errorCase, std::string text = {});

    Case m_case;
    std::string m_description;
};

}  // namespace sonorel
