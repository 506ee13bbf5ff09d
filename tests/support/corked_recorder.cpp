#include "support/corked_recorder.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace sonorel::testing {

namespace {

void signal(void* userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

CorkedRecorder::CorkedRecorder(const std::string& serverAddress, const std::string& source)
{
    m_mainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(m_mainloop);
    pa_threaded_mainloop_lock(m_mainloop);
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "Corked recorder");
    pa_context_set_state_callback(m_context, [](pa_context*, void* loop) { signal(loop); }, m_mainloop);
    pa_context_connect(m_context, serverAddress.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](CorkedRecorder& r) { return pa_context_get_state(r.m_context) == PA_CONTEXT_READY; });

    pa_threaded_mainloop_lock(m_mainloop);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 16000, 1};
    m_stream = pa_stream_new(m_context, "paused recording", &spec, nullptr);
    pa_stream_set_state_callback(m_stream, [](pa_stream*, void* loop) { signal(loop); }, m_mainloop);
    pa_stream_connect_record(m_stream, source.c_str(), nullptr, PA_STREAM_START_CORKED);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](CorkedRecorder& r) { return pa_stream_get_state(r.m_stream) == PA_STREAM_READY; });
}

CorkedRecorder::~CorkedRecorder()
{
    pa_threaded_mainloop_lock(m_mainloop);
    if (m_stream) {
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

void CorkedRecorder::setCorked(bool corked)
{
    m_done = false;
    pa_threaded_mainloop_lock(m_mainloop);
    pa_operation* operation = pa_stream_cork(
        m_stream, corked ? 1 : 0,
        [](pa_stream*, int, void* self) {
            auto* recorder = static_cast<CorkedRecorder*>(self);
            recorder->m_done = true;
            signal(recorder->m_mainloop);
        },
        this);
    pa_operation_unref(operation);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](CorkedRecorder& r) { return r.m_done; });
}

void CorkedRecorder::waitUntil(bool (*ready)(CorkedRecorder&))
{
    // Polled with short sleeps so that a stuck server fails the test instead of hanging it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        pa_threaded_mainloop_lock(m_mainloop);
        const bool done = ready(*this);
        pa_threaded_mainloop_unlock(m_mainloop);
        if (done)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    throw std::runtime_error("the corked recorder did not get ready in time");
}

}  // namespace sonorel::testing
