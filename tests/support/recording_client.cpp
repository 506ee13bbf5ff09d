#include "support/recording_client.h"

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

RecordingClient::RecordingClient(const std::string& serverAddress, const std::string& source, Kind kind)
{
    m_mainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(m_mainloop);
    pa_threaded_mainloop_lock(m_mainloop);
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop),
                               kind == Kind::levelMeter ? "Volume Control" : "Paused recorder");
    pa_context_set_state_callback(m_context, [](pa_context*, void* loop) { signal(loop); }, m_mainloop);
    pa_context_connect(m_context, serverAddress.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](RecordingClient& r) { return pa_context_get_state(r.m_context) == PA_CONTEXT_READY; });

    pa_threaded_mainloop_lock(m_mainloop);
    const bool meter = kind == Kind::levelMeter;
    const pa_sample_spec spec = meter ? pa_sample_spec{PA_SAMPLE_FLOAT32LE, 25, 1} : pa_sample_spec{PA_SAMPLE_S16LE, 16000, 1};
    m_stream = pa_stream_new(m_context, meter ? "Peak detect" : "paused recording", &spec, nullptr);
    pa_stream_set_state_callback(m_stream, [](pa_stream*, void* loop) { signal(loop); }, m_mainloop);
    // A meter reads its peaks as they come, as pavucontrol does.
    pa_stream_set_read_callback(
        m_stream,
        [](pa_stream* stream, size_t, void*) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0)
                pa_stream_drop(stream);
        },
        nullptr);
    const pa_buffer_attr attributes{uint32_t(-1), uint32_t(-1), uint32_t(-1), uint32_t(-1), sizeof(float)};
    pa_stream_connect_record(m_stream, source.c_str(), meter ? &attributes : nullptr,
                             meter ? pa_stream_flags_t(PA_STREAM_DONT_MOVE | PA_STREAM_PEAK_DETECT
                                                       | PA_STREAM_ADJUST_LATENCY)
                                   : PA_STREAM_START_CORKED);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](RecordingClient& r) { return pa_stream_get_state(r.m_stream) == PA_STREAM_READY; });
}

RecordingClient::~RecordingClient()
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

void RecordingClient::setCorked(bool corked)
{
    m_done = false;
    pa_threaded_mainloop_lock(m_mainloop);
    pa_operation* operation = pa_stream_cork(
        m_stream, corked ? 1 : 0,
        [](pa_stream*, int, void* self) {
            auto* recorder = static_cast<RecordingClient*>(self);
            recorder->m_done = true;
            signal(recorder->m_mainloop);
        },
        this);
    pa_operation_unref(operation);
    pa_threaded_mainloop_unlock(m_mainloop);
    waitUntil([](RecordingClient& r) { return r.m_done; });
}

void RecordingClient::waitUntil(bool (*ready)(RecordingClient&))
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
