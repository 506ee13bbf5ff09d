#include "store/doctor_store.h"

#include "audio/audio_log.h"
#include "audio/audio_repair_error.h"
#include "audio/repair_coordinator.h"
#include "model/text_format.h"

#include <QLoggingCategory>
#include <QPointer>

#include <algorithm>
#include <cctype>

namespace sonorel {

namespace {

// Actions that can interrupt a recording.
bool isDisruptive(RepairAction action)
{
    switch (action) {
    case RepairAction::useBuiltInMic:
    case RepairAction::normalizeRate:
    case RepairAction::restartAudio:
    case RepairAction::restoreInput:
    case RepairAction::reselectOutput:
    case RepairAction::restoreLastOutput:
    case RepairAction::turnOnOutput:
    case RepairAction::switchInputPort:
        return true;
    default:
        return false;
    }
}

// Repairs of the microphone: the user answers whether the app hears them.
bool isInputRepair(RepairAction action)
{
    return action == RepairAction::restoreInput || action == RepairAction::switchInputPort;
}

bool contains(const std::vector<RepairAction>& actions, RepairAction action)
{
    return std::find(actions.begin(), actions.end(), action) != actions.end();
}

bool isOnly(const std::vector<RepairAction>& actions, RepairAction action)
{
    return actions.size() == 1 && actions.front() == action;
}

// "Quick Fix unmutes Firefox and moves VLC to Speakers in the mixer."
std::string appOnlySummary(const AudioSnapshot& snapshot, const std::vector<RepairAction>& plan)
{
    std::vector<std::string> work;
    if (contains(plan, RepairAction::unmuteApp))
        work.push_back("unmutes " + namesText(appNames(snapshot.mutedAppStreams())));
    if (contains(plan, RepairAction::raiseAppVolume))
        work.push_back("raises " + namesText(appNames(snapshot.silentAppStreams())) + " from 0%");
    if (contains(plan, RepairAction::moveAppToOutput) && snapshot.outputDevice())
        work.push_back("moves " + namesText(appNames(snapshot.appStreamsElsewhere())) + " to "
                       + snapshot.outputDevice()->name);
    return "Quick Fix " + namesText(work) + " in the mixer.";
}


}  // namespace

std::vector<RepairAction> DoctorStore::quickFixPlan() const
{
    return sonorel::quickFixPlan(m_checks, m_intent, m_snapshot, m_lastWorkingOutput);
}

std::optional<AudioRepairError> DoctorStore::quickFixRefusal() const
{
    return refusalOf(quickFixPlan());
}

std::optional<AudioRepairError> DoctorStore::refusalOf(const std::vector<RepairAction>& plan) const
{
    if (contains(plan, RepairAction::restartAudio) && !m_snapshot.readError) {
        try {
            guardOutputCapture(m_snapshot);
        } catch (const AudioRepairError& error) {
            return error;
        }
    }
    const bool inputActive = m_snapshot.isInputActive();
    if (!inputActive && (m_snapshot.inputActivityKnown || m_snapshot.readError))
        return std::nullopt;
    if (std::none_of(plan.begin(), plan.end(), isDisruptive))
        return std::nullopt;
    return inputActive ? AudioRepairError::recordingActive() : AudioRepairError::inputActivityUnknown();
}

bool DoctorStore::quickFixBlockedByInput() const
{
    return quickFixRefusal().has_value();
}

std::string DoctorStore::quickFixBlockedText() const
{
    const auto refusal = quickFixRefusal();
    if (!refusal)
        return {};
    switch (refusal->errorCase()) {
    case AudioRepairError::Case::outputCaptureActive:
        return refusal->description();
    case AudioRepairError::Case::recordingActive:
        return "Finish the call or recording before resetting audio.";
    default:
        return "Input activity could not be checked. Check again.";
    }
}

bool DoctorStore::canRunQuickFix() const
{
    return !m_isFixing && !quickFixRefusal();
}

bool DoctorStore::canPerform(RepairAction action) const
{
    return !m_isFixing && !refusalOf({action});
}

std::string DoctorStore::quickFixSummary() const
{
    const auto plan = quickFixPlan();
    if (plan.empty())
        return "Open Troubleshoot for a guided " + lowercased(label(m_intent)) + " check.";
    if (m_intent == RepairIntent::appOnly)
        return appOnlySummary(m_snapshot, plan);
    if (plan.size() == 1) {
        switch (plan.front()) {
        case RepairAction::unmute:
            return "Your computer is muted. Quick Fix turns the sound back on.";
        case RepairAction::turnOnOutput:
            return "Sound plays nowhere. Quick Fix turns the sound card’s output on, then checks the result.";
        case RepairAction::switchOutputPort:
            return "The connector in use is unplugged. Quick Fix switches to one that can play.";
        case RepairAction::openBluetooth:
            return "Reconnect your preferred headphones in Bluetooth settings.";
        case RepairAction::restartAudio:
            return "Restart the computer’s sound service. Sound pauses briefly.";
        case RepairAction::reselectOutput:
            return "Gently reselect the connected headphones using a muted temporary output. Sound pauses briefly.";
        default:
            break;
        }
    }
    // Several repairs: each one named, so that none comes as a surprise.
    std::vector<std::string> titles;
    for (RepairAction action : plan)
        titles.emplace_back(title(action));
    return "Quick Fix: " + namesText(titles) + ", then listen or test to confirm the result.";
}

QCoro::Task<> DoctorStore::runQuickFix()
{
    if (m_isFixing)
        co_return;
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self || m_isFixing)
        co_return;
    const auto plan = quickFixPlan();
    if (isOnly(plan, RepairAction::openBluetooth)) {
        openSettingsPane(SettingsPane::bluetooth);
        co_return;
    }
    if (plan.empty()) {
        setSelectedPage(DoctorPage::troubleshoot);
        co_return;
    }
    if (const auto refusal = quickFixRefusal()) {
        showError(std::make_exception_ptr(*refusal));
        co_return;
    }
    co_await runRepairs(plan, true);
}

QCoro::Task<> DoctorStore::perform(RepairAction action)
{
    if (m_isFixing)
        co_return;
    if (action == RepairAction::openBluetooth) {
        openSettingsPane(SettingsPane::bluetooth);
        co_return;
    }
    std::vector<RepairAction> single(1, action);
    co_await runRepairs(std::move(single), false);
}

QCoro::Task<> DoctorStore::restartUnanswered()
{
    if (m_isFixing || !m_offersUnansweredRestart)
        co_return;
    co_await runRepairs(std::vector<RepairAction>(1, RepairAction::restartAudio), false, true);
}

QCoro::Task<> DoctorStore::runRepairs(std::vector<RepairAction> actions, bool followUps, bool restartUnanswered)
{
    m_isFixing = true;
    m_notice.reset();
    m_offersUnansweredRestart = false;
    stopListening();
    m_awaitingFeedback = false;
    m_feedbackOutputUID.reset();
    m_undoChanges.clear();
    m_feedbackRepairSteps.clear();
    const bool inputOnly = std::all_of(actions.begin(), actions.end(), isInputRepair);
    m_feedbackPrompt = inputOnly                                      ? "Can the app hear you now?"
                       : isOnly(actions, RepairAction::alignAlerts) ? "Are alerts audible now?"
                                                                    : "How does it sound now?";
    emit noticeChanged();
    emit repairStateChanged();

    QPointer<DoctorStore> self(this);
    std::vector<RepairAction> remaining = actions;
    std::set<RepairAction> attempted;
    std::vector<std::string> messages;
    while (!remaining.empty()) {
        const RepairAction action = remaining.front();
        remaining.erase(remaining.begin());
        attempted.insert(action);
        m_fixingLabel = action == RepairAction::restartAudio ? "Restarting the audio service, then restoring your output…"
                                                             : std::string(title(action));
        emit repairStateChanged();

        const RepairOutcome outcome = co_await m_audio.perform(action, m_preferredOutput, m_lastWorkingOutput,
                                                               restartUnanswered && action == RepairAction::restartAudio);
        if (!self)
            co_return;
        m_feedbackRepairSteps.push_back({action, !outcome.failure});
        foldUndoChanges(m_undoChanges, outcome.changes);
        if (outcome.failure) {
            bool cancelled = false;
            try {
                std::rethrow_exception(outcome.failure);
            } catch (const AudioRepairError& error) {
                cancelled = error == AudioRepairError::cancelled();
            } catch (...) {
            }
            showError(outcome.failure);
            addActivity(cancelled ? "Reset cancelled" : "Repair needs attention", m_notice->detail,
                        ActivityEntry::Kind::error);
            endRun();
            co_await refresh();
            co_return;
        }
        addActivity(std::string(title(action)), *outcome.message, ActivityEntry::Kind::repair);
        qCInfo(audioLog, "Repair finished: %s", std::string(caseName(action)).c_str());
        messages.push_back(*outcome.message);
        co_await refresh();
        if (!self)
            co_return;
        if (followUps)
            remaining = followUpsAfter(actions, attempted);
    }

    std::string detail;
    for (const auto& message : messages)
        detail += (detail.empty() ? "" : "\n") + message;
    showNotice("Audio settings checked again", detail);
    const bool listensToOutput = std::any_of(attempted.begin(), attempted.end(), [](RepairAction a) {
        return !isInputRepair(a) && a != RepairAction::alignAlerts;
    });
    if (listensToOutput && m_snapshot.outputDevice())
        m_feedbackOutputUID = m_snapshot.outputDevice()->uid;
    m_awaitingFeedback = true;
    endRun();
    co_await refresh();
}

void DoctorStore::endRun()
{
    m_isFixing = false;
    m_fixingLabel.clear();
    emit repairStateChanged();
}

std::vector<RepairAction> DoctorStore::followUpsAfter(const std::vector<RepairAction>& started,
                                                      const std::set<RepairAction>& attempted) const
{
    // Only the planned repairs the caption named, each once, and of those only
    // what the checks still offer (and the recoveries, which no check offers).
    std::set<RepairAction> offered;
    for (const auto& check : m_checks)
        if (check.action)
            offered.insert(*check.action);
    std::vector<RepairAction> next;
    for (RepairAction action : started)
        if (!attempted.count(action) && action != RepairAction::openBluetooth
            && (offered.count(action) || isSymptomRecovery(action)))
            next.push_back(action);
    return next;
}

void foldUndoChanges(std::vector<AudioConfigurationChange>& undo, const std::vector<AudioConfigurationChange>& changes)
{
    for (const auto& change : changes) {
        auto same = std::find_if(undo.begin(), undo.end(), [&](const AudioConfigurationChange& c) {
            return c.after.isSameTarget(change.after);
        });
        if (same != undo.end())
            same->after = change.after;
        else
            undo.push_back(change);
    }
    std::erase_if(undo, [](const AudioConfigurationChange& c) { return c.before.matches(c.after); });
}

QCoro::Task<> DoctorStore::reportListeningResult(bool better)
{
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self)
        co_return;
    // A confirmation that failed keeps its error notice (also one that failed
    // just before): the answer is still logged.
    std::optional<bool> saved;
    if (better && m_feedbackOutputUID && m_snapshot.outputDevice()
        && m_snapshot.outputDevice()->uid == *m_feedbackOutputUID) {
        saved = co_await confirmWorkingOutput();
        if (!self)
            co_return;
    }
    addActivity(better ? "Audio sounds better" : "Still hearing a problem", "Listening result reported after a repair.",
                ActivityEntry::Kind::feedback);
    m_awaitingFeedback = false;
    emit repairStateChanged();
    if (!better) {
        setSelectedPage(DoctorPage::troubleshoot);
        setNotice(DoctorNotice{m_services.newId(), "Let’s take a closer look.",
                               "Follow the checks for this symptom in Troubleshoot, or tell us what you hear. Device "
                               "recovery alone cannot confirm clean sound.",
                               false, true});
    } else if (saved != false && !(m_notice && m_notice->isError)) {
        showNotice("Your result is saved.",
                   saved == true ? "This output is saved as confirmed working for recovery after sleep."
                         : "The repair result is saved in Activity. Confirm an output separately after listening to "
                           "it.");
    }
}

void DoctorStore::dismissListeningQuestion()
{
    m_awaitingFeedback = false;
    emit repairStateChanged();
}

QCoro::Task<bool> DoctorStore::confirmWorkingOutput()
{
    QPointer<DoctorStore> self(this);
    co_await refresh();
    if (!self)
        co_return false;
    const AudioDevice* out = m_snapshot.outputDevice();
    if (m_snapshot.readError || !out || !out->isAlive) {
        showError(std::make_exception_ptr(AudioRepairError::deviceGone()));
        co_return false;
    }
    m_lastWorkingOutput = PreferredOutput{out->uid, out->name, out->transport == AudioTransport::bluetooth};
    m_preferences.setLastWorkingOutput(*m_lastWorkingOutput);
    emit preferencesChanged();
    addActivity("Working output confirmed", "You confirmed hearing sound through " + out->name + ".",
                ActivityEntry::Kind::feedback);
    co_return true;
}

QCoro::Task<> DoctorStore::undoRepairSettings()
{
    if (m_isFixing || m_undoChanges.empty())
        co_return;
    // Undo changes what the tone and the microphone test would measure.
    stopListening();
    m_isFixing = true;
    emit repairStateChanged();
    QPointer<DoctorStore> self(this);
    std::exception_ptr failure;
    try {
        co_await m_audio.undo(m_undoChanges);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        showError(failure);
    } else {
        m_undoChanges.clear();
        // The repair is taken back, so how it sounds after it is no longer the question.
        m_awaitingFeedback = false;
        const bool restarted = std::any_of(m_feedbackRepairSteps.begin(), m_feedbackRepairSteps.end(),
                                           [](const FeedbackRepairStep& step) {
                                               return step.action == RepairAction::restartAudio && step.succeeded;
                                           });
        showNotice("Settings restored", restarted ? "The configuration changes were reversed. An audio service "
                                                    "restart itself cannot be undone."
                                                  : "The configuration changes were reversed.");
        addActivity("Repair settings undone", "Reversed the verified changes without overwriting intervening edits.",
                    ActivityEntry::Kind::repair);
    }
    endRun();
    co_await refresh();
}

}  // namespace sonorel
