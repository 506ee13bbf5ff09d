#include "audio/audio_repair_error.h"

namespace sonorel {

namespace {

std::string sentence(AudioRepairError::Case errorCase, const std::string& text)
{
    using Case = AudioRepairError::Case;
    switch (errorCase) {
    case Case::system:
        return text;
    case Case::recordingActive:
        return "A microphone or input device is in use. End the call or recording before changing the input or "
               "resetting audio.";
    case Case::inputActivityUnknown:
        return "Input activity could not be checked. Try again before resetting audio or changing the input.";
    case Case::deviceGone:
        return "The audio device disconnected. Reconnect it and run the check again.";
    case Case::unsupported:
        return "This device does not support that change. Use Sound settings or Volume Control.";
    case Case::cancelled:
        return "The audio service restart was cancelled. No reset was performed.";
    case Case::recoveryFailed:
        return "The expected audio settings or device could not be verified. Check Devices, reconnect if needed, "
               "and listen again.";
    case Case::settingsChanged:
        return "Audio settings changed during or after the repair. The operation stopped to preserve newer "
               "settings.";
    case Case::streamGone:
        return "The app’s sound stream has ended: the app was closed or restarted. Play "
               "something in the app and check again.";
    case Case::outputCaptureActive:
        return text + " is recording what your computer plays. Restarting the audio service would cut that "
                      "recording; stop it first.";
    case Case::serverNotAnswering:
        return "The audio service is not answering, so Doctor can't check whether something is recording. Restart "
               "it anyway?";
    }
    return {};
}

}  // namespace

AudioRepairError::AudioRepairError(Case errorCase, std::string text)
    : m_case(errorCase), m_description(sentence(errorCase, text))
{
}

}  // namespace sonorel
