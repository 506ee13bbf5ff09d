#include "listening/live_audio_streams.h"

#include "audio/audio_repair_error.h"

#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>

namespace sonorel {

namespace {

using Failure = pulse::PulseStream::Failure;

// Not a coroutine: the callback may run on libpulse's thread before this returns.
QFuture<std::optional<Failure>> started(pulse::PulseStream& stream,
                                        std::variant<pulse::PulseStream::Playback, pulse::PulseStream::Record,
                                                     pulse::PulseStream::Probe>
                                            what,
                                        pulse::PulseStream::Ended ended = {})
{
    auto promise = std::make_shared<QPromise<std::optional<Failure>>>();
    auto future = promise->future();
    promise->start();
    stream.start(std::move(what), [promise](std::optional<Failure> failure) {
        promise->addResult(failure);
        promise->finish();
    }, std::move(ended));
    return future;
}

// Without a server there is nothing to test on: said as the server, not the device.
void throwIfNoServer(Failure failure)
{
    if (failure == Failure::unavailable)
        throw AudioRepairError::system(
            "The audio service is unavailable. Try checking again or reset the audio service.");
    if (failure == Failure::refused)
        throw AudioRepairError::system("The audio service refused the connection.");
}

}  // namespace

QCoro::Task<bool> LiveTonePlayback::start(std::shared_ptr<const std::vector<uint8_t>> wav,
                                          std::function<void(bool played)> ended)
{
    if (!wav || wav->size() <= wavHeaderSize)
        co_return false;
    // The player heeds whichever end it hears first.
    auto playback = pulse::PulseStream::Playback{std::move(wav), wavHeaderSize, [ended] { ended(true); }};
    auto future = started(m_stream, std::move(playback), [ended] { ended(false); });
    // Nothing of this object is touched after the wait: it may be gone.
    const std::optional<Failure> failure = co_await future;
    if (failure)
        throwIfNoServer(*failure);
    co_return !failure;
}

QCoro::Task<> LiveMicrophoneCapture::start(Handler handler, std::function<void()> endedEarly)
{
    pulse::PulseStream::Record record;
    record.onFragment = std::move(handler);
    auto future = started(m_stream, std::move(record), std::move(endedEarly));
    const std::optional<Failure> failure = co_await future;
    if (!failure)
        co_return;
    if (*failure == Failure::noDevice)
        throw AudioRepairError::system("The microphone has no available input stream.");
    if (*failure == Failure::stopped)
        throw AudioRepairError::cancelled();
    if (*failure == Failure::refused)
        throw AudioRepairError::system("The audio service refused access to the microphone.");
    throwIfNoServer(*failure);
}

QCoro::Task<bool> liveMicrophonePermission(std::string server)
{
    auto probe = std::make_shared<pulse::PulseStream>("Sonorel Doctor permission check", std::move(server));
    auto future = started(*probe, pulse::PulseStream::Probe{});
    const std::optional<Failure> failure = co_await future;
    co_return failure != Failure::refused;
}

}  // namespace sonorel
