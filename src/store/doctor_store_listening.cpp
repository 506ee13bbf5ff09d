#include "store/doctor_store.h"

#include <QPointer>

namespace sonorel {

namespace {

QCoro::Task<bool> inputStillFreeNow(AudioThread& audio, std::string uid)
{
    co_return inputStillFree(co_await audio.snapshot(), uid);
}

}  // namespace

QCoro::Task<> DoctorStore::playTestTone()
{
    if (m_isFixing)
        co_return;
    QPointer<DoctorStore> self(this);
    try {
        co_await m_tone.play();
    } catch (...) {
        if (self)
            showError(std::current_exception());
    }
}

QCoro::Task<> DoctorStore::playReferenceTone()
{
    const AudioDevice* output = m_snapshot.outputDevice();
    m_isolation.referenceOutputUID = output ? std::optional(output->uid) : std::nullopt;
    m_isolation.referenceOutputName = output ? std::optional(output->name) : std::nullopt;
    // A fresh play asks for a fresh rating.
    m_isolation.reference = AppIsolation::Result::notTested;
    emit comparisonChanged();
    co_await playTestTone();
}

QCoro::Task<> DoctorStore::testAnotherOutput()
{
    const AudioDevice* output = m_snapshot.outputDevice();
    if (!m_isolation.referenceOutputUID || !output || output->uid == *m_isolation.referenceOutputUID) {
        showNotice("Choose another output",
                   "Play Doctor’s reference tone first, then choose a different output in Devices for comparison.");
        co_return;
    }
    co_await playTestTone();
}

QCoro::Task<> DoctorStore::startMicrophoneTest()
{
    if (m_isFixing)
        co_return;
    QPointer<DoctorStore> self(this);
    co_await refresh();
    // A repair may have begun while the reading was awaited.
    if (!self || m_isFixing)
        co_return;
    m_tone.stop();
    const AudioDevice* input = m_snapshot.inputDevice();
    const std::string uid = input ? input->uid : std::string();
    AudioThread* audio = &m_audio;
    m_microphone->start(m_snapshot, [audio, uid] { return inputStillFreeNow(*audio, uid); });
}

void DoctorStore::stopListening()
{
    m_microphone->stop();
    m_tone.stop();
}

}  // namespace sonorel
