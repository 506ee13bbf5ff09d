#include "store/audio_thread.h"

#include "pulse/audio_service_restarter.h"
#include "pulse/pulse_audio_system.h"

#include <QCoreApplication>
#include <QCoro/QCoroTimer>
#include <QMetaObject>
#include <QPointer>

namespace sonorel {

struct AudioThread::Resident {
    Parts parts;
    RepairCoordinator coordinator;

    explicit Resident(Parts made)
        : parts(std::move(made)), coordinator(*parts.audio, *parts.restarter, parts.pause)
    {
    }
};

namespace {

template <typename T>
QCoro::Task<T> resultOf(QFuture<T> future)
{
    if constexpr (std::is_void_v<T>)
        co_await future;
    else
        co_return co_await future;
}

// Runs a coroutine to its end on the thread it is started on, however often
// it suspends there, and hands its outcome to `done`.
template <typename T, typename Work, typename On>
QCoro::Task<> fulfil(std::shared_ptr<QPromise<T>> done, Work job, On& on)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await job(on);
        else
            done->addResult(co_await job(on));
    } catch (...) {
        done->setException(std::current_exception());
    }
    done->finish();
}

QCoro::Task<RepairOutcome> performOn(RepairCoordinator& coordinator, AudioSystem& audio, RepairAction action,
                                    std::optional<PreferredOutput> preferredOutput,
                                    std::optional<PreferredOutput> lastWorkingOutput, bool restartUnanswered)
{
    RepairOutcome outcome;
    try {
        outcome.message = co_await coordinator.perform(action, preferredOutput, lastWorkingOutput, restartUnanswered);
        if (action == RepairAction::restartAudio)
            audio.forgetOverloads();
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    outcome.changes = coordinator.lastChanges();
    co_return outcome;
}

}  // namespace

// Neither this nor the calls below are coroutines: GCC 12 frees a lambda's
// init-captures of a coroutine's parameters twice.
template <typename Work>
auto AudioThread::call(Work work) -> QCoro::Task<typename std::invoke_result_t<Work, Resident&>::value_type>
{
    using T = typename std::invoke_result_t<Work, Resident&>::value_type;
    auto promise = std::make_shared<QPromise<T>>();
    QFuture<T> future = promise->future();
    promise->start();
    post([promise, work = std::move(work)](Resident& resident) mutable {
        fulfil<T>(promise, std::move(work), resident);
    });
    return resultOf(std::move(future));
}

AudioThread::AudioThread(std::function<Parts()> make, Placement placement)
{
    m_context = new QObject;
    if (placement == Placement::callerThread) {
        m_resident = std::make_unique<Resident>(make());
        return;
    }
    m_thread.setObjectName(QStringLiteral("sonorel-audio"));
    m_thread.start();
    m_context->moveToThread(&m_thread);
    // Built on the audio thread, so that its timers and main loop callbacks belong there.
    QMetaObject::invokeMethod(
        m_context, [this, make = std::move(make)] { m_resident = std::make_unique<Resident>(make()); },
        Qt::BlockingQueuedConnection);
}

AudioThread::~AudioThread()
{
    if (!m_thread.isRunning()) {
        m_resident.reset();
        delete m_context;
        return;
    }
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_resident.reset();
            delete m_context;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void AudioThread::post(std::function<void(Resident&)> job)
{
    QMetaObject::invokeMethod(
        m_context, [this, job = std::move(job)] { job(*m_resident); }, Qt::QueuedConnection);
}

QCoro::Task<AudioSnapshot> AudioThread::snapshot()
{
    return call([](Resident& r) -> QCoro::Task<AudioSnapshot> { co_return r.parts.audio->snapshot(); });
}

QCoro::Task<void> AudioThread::setDefaultOutput(std::string uid)
{
    return call([uid = std::move(uid)](Resident& r) -> QCoro::Task<void> {
        r.parts.audio->setDefaultOutput(uid);
        co_return;
    });
}

QCoro::Task<void> AudioThread::setDefaultInput(std::string uid)
{
    return call([uid = std::move(uid)](Resident& r) -> QCoro::Task<void> {
        r.parts.audio->setDefaultInput(uid);
        co_return;
    });
}

QCoro::Task<RepairOutcome> AudioThread::perform(RepairAction action, std::optional<PreferredOutput> preferredOutput,
                                                std::optional<PreferredOutput> lastWorkingOutput,
                                                bool restartUnanswered)
{
    // A coroutine lambda's captures die with the lambda: the inner coroutine takes copies.
    return call([=](Resident& r) {
        return performOn(r.coordinator, *r.parts.audio, action, preferredOutput, lastWorkingOutput, restartUnanswered);
    });
}

QCoro::Task<void> AudioThread::undo(std::vector<AudioConfigurationChange> changes)
{
    return call([changes = std::move(changes)](Resident& r) -> QCoro::Task<void> {
        r.coordinator.undo(changes);
        co_return;
    });
}

void AudioThread::startMonitoring(QObject* receiver, std::function<void()> onChange,
                                  std::function<void(Date)> onOverload)
{
    // Each report hops to the receiver's thread, and is dropped once the receiver is gone.
    const QPointer<QObject> target(receiver);
    auto deliver = [target](std::function<void()> report) {
        QMetaObject::invokeMethod(
            qApp, [target, report = std::move(report)] {
                if (target)
                    report();
            },
            Qt::QueuedConnection);
    };
    post([deliver, onChange = std::move(onChange), onOverload = std::move(onOverload)](Resident& r) {
        r.parts.audio->startMonitoring([deliver, onChange] { deliver(onChange); },
                                       [deliver, onOverload](Date at) { deliver([onOverload, at] { onOverload(at); }); });
    });
}

void AudioThread::stopMonitoring()
{
    post([](Resident& r) { r.parts.audio->stopMonitoring(); });
}

AudioThread::Parts liveAudioParts()
{
    auto audio = std::make_unique<PulseAudioSystem>();
    PulseAudioSystem* reader = audio.get();
    auto restarter =
        installedRestarter(QCoreApplication::applicationDirPath(), [reader] { return reader->serverAddress(); });
    return AudioThread::Parts{std::move(audio), std::move(restarter),
                              [] { return QCoro::sleepFor(std::chrono::milliseconds(500)); }};
}

}  // namespace sonorel
