#include "pulse/pulse_stream.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <utility>

namespace sonorel::pulse {

namespace {

// How long the server has to connect and start the stream.
constexpr pa_usec_t startTimeout = 5 * PA_USEC_PER_SEC;
// The tone's buffer: short, so that stopping silences it at once.
constexpr pa_usec_t playbackLatency = 100 * PA_USEC_PER_MSEC;

constexpr pa_sample_spec toneSpec{PA_SAMPLE_S16LE, 44100, 2};

}  // namespace

// Everything libpulse's callbacks touch; they run with the main loop locked.
struct PulseStream::State {
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* timeout = nullptr;
    pa_operation* drain = nullptr;
    std::string mediaName;
    std::variant<Playback, Record, Probe> what;
    Started started;
    Ended ended;
    size_t written = 0;

    void report(std::optional<Failure> failure)
    {
        if (timeout) {
            pa_threaded_mainloop_get_api(mainloop)->time_free(timeout);
            timeout = nullptr;
        }
        if (!started)
            return;
        auto done = std::move(started);
        started = nullptr;
        done(failure);
    }

    // A stream or connection that failed: before the start it is the start's
    // failure, after it the stream ended early.
    void lost()
    {
        if (started)
            return report(failureOf(pa_context_errno(context)));
        if (auto done = std::exchange(ended, nullptr))
            done();
    }

    Failure failureOf(int error) const
    {
        if (error == PA_ERR_ACCESS)
            return Failure::refused;
        if (error == PA_ERR_NOENTITY)
            return Failure::noDevice;
        return Failure::unavailable;
    }

    // A new stream of ours, watched; false (with the failure reported) when the server refused.
    bool makeStream(const pa_sample_spec& spec, const pa_channel_map* channels)
    {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName.c_str());
        pa_proplist_sets(properties, ownStreamKey, "1");
        stream = pa_stream_new_with_proplist(context, mediaName.c_str(), &spec, channels, properties);
        pa_proplist_free(properties);
        if (!stream) {
            report(failureOf(pa_context_errno(context)));
            return false;
        }
        pa_stream_set_state_callback(stream, &State::streamState, this);
        // A test on another device than it began on would measure the wrong one.
        pa_stream_set_moved_callback(stream, &State::moved, this);
        return true;
    }

    void startPlayback()
    {
        if (!makeStream(toneSpec, nullptr))
            return;
        pa_stream_set_write_callback(stream, &State::writable, this);
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(playbackLatency, &toneSpec));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(-1);
        if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            report(failureOf(pa_context_errno(context)));
    }

    void startRecord(const pa_source_info& source)
    {
        if (source.sample_spec.channels == 0 || source.sample_spec.rate == 0)
            return report(Failure::noDevice);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, source.sample_spec.rate, source.sample_spec.channels};
        if (!makeStream(spec, &source.channel_map))
            return;
        pa_stream_set_read_callback(stream, &State::readable, this);
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        attr.fragsize = std::get<Record>(what).fragmentFrames * uint32_t(pa_frame_size(&spec));
        if (pa_stream_connect_record(stream, source.name, &attr, PA_STREAM_ADJUST_LATENCY) < 0)
            report(failureOf(pa_context_errno(context)));
    }

    static void contextState(pa_context* context, void* self)
    {
        auto* state = static_cast<State*>(self);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (std::holds_alternative<Probe>(state->what)) {
                state->report(std::nullopt);
            } else if (std::holds_alternative<Playback>(state->what)) {
                state->startPlayback();
            } else if (pa_operation* op = pa_context_get_source_info_by_name(
                           context, state->recordedSource().c_str(), &State::sourceFound, self)) {
                pa_operation_unref(op);
            } else {
                state->report(state->failureOf(pa_context_errno(context)));
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            state->lost();
            break;
        default:
            break;
        }
    }

    std::string recordedSource() const
    {
        const std::string& named = std::get<Record>(what).source;
        return named.empty() ? "@DEFAULT_SOURCE@" : named;
    }

    static void sourceFound(pa_context* context, const pa_source_info* info, int eol, void* self)
    {
        auto* state = static_cast<State*>(self);
        if (info)
            state->startRecord(*info);
        else if (eol < 0)
            state->report(state->failureOf(pa_context_errno(context)));
    }

    static void streamState(pa_stream* stream, void* self)
    {
        auto* state = static_cast<State*>(self);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            state->report(std::nullopt);
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            state->lost();
            break;
        default:
            break;
        }
    }

    static void moved(pa_stream*, void* self)
    {
        auto* state = static_cast<State*>(self);
        if (!state->started)
            state->lost();
    }

    static void writable(pa_stream* stream, size_t bytes, void* self)
    {
        auto* state = static_cast<State*>(self);
        const auto& playback = std::get<Playback>(state->what);
        const auto& data = *playback.data;
        const size_t from = playback.offset + state->written;
        const size_t count = std::min(bytes, data.size() - std::min(from, data.size()));
        if (count == 0)
            return;
        pa_stream_write(stream, data.data() + from, count, nullptr, 0, PA_SEEK_RELATIVE);
        state->written += count;
        // All written: the tone ends when the server has played it, however late it began.
        if (from + count == data.size() && !state->drain)
            state->drain = pa_stream_drain(stream, &State::drained, self);
    }

    static void drained(pa_stream*, int success, void* self)
    {
        auto* state = static_cast<State*>(self);
        pa_operation_unref(std::exchange(state->drain, nullptr));
        auto& played = std::get<Playback>(state->what).played;
        if (success && played)
            std::exchange(played, nullptr)();
    }

    static void readable(pa_stream* stream, size_t, void* self)
    {
        auto* state = static_cast<State*>(self);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            // A hole (no data) carries nothing to measure.
            if (data)
                std::get<Record>(state->what)
                    .onFragment(std::span(static_cast<const float*>(data), bytes / sizeof(float)));
            pa_stream_drop(stream);
        }
    }
};

PulseStream::PulseStream(std::string mediaName, std::string server)
    : m_mediaName(std::move(mediaName)), m_server(std::move(server))
{
}

PulseStream::~PulseStream()
{
    stop();
}

void PulseStream::start(std::variant<Playback, Record, Probe> what, Started started, Ended ended)
{
    stop();
    auto state = std::make_unique<State>();
    state->mediaName = m_mediaName;
    state->what = std::move(what);
    state->started = std::move(started);
    state->ended = std::move(ended);
    state->mainloop = pa_threaded_mainloop_new();
    if (!state->mainloop) {
        state->report(Failure::unavailable);
        return;
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(state->mainloop);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Sonorel Doctor");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "sonorel-doctor");
    state->context = pa_context_new_with_proplist(api, "Sonorel Doctor", properties);
    pa_proplist_free(properties);
    m_state = std::move(state);
    State* s = m_state.get();
    if (!s->context) {
        s->report(Failure::unavailable);
        return;
    }
    pa_context_set_state_callback(s->context, &State::contextState, s);
    if (pa_context_connect(s->context, m_server.empty() ? nullptr : m_server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        s->report(s->failureOf(pa_context_errno(s->context)));
        return;
    }
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, startTimeout);
    s->timeout = api->time_new(
        api, &when,
        [](pa_mainloop_api* loop, pa_time_event* event, const timeval*, void* self) {
            auto* timedOut = static_cast<State*>(self);
            loop->time_free(event);
            timedOut->timeout = nullptr;
            timedOut->report(Failure::unavailable);
        },
        s);
    pa_threaded_mainloop_start(s->mainloop);
}

void PulseStream::stop()
{
    if (!m_state)
        return;
    State& s = *m_state;
    pa_threaded_mainloop_lock(s.mainloop);
    s.report(Failure::stopped);
    if (s.drain) {
        // A cancelled operation calls nothing back.
        pa_operation_cancel(s.drain);
        pa_operation_unref(s.drain);
    }
    if (s.stream) {
        pa_stream_set_state_callback(s.stream, nullptr, nullptr);
        pa_stream_set_moved_callback(s.stream, nullptr, nullptr);
        pa_stream_set_write_callback(s.stream, nullptr, nullptr);
        pa_stream_set_read_callback(s.stream, nullptr, nullptr);
        pa_stream_disconnect(s.stream);
        pa_stream_unref(s.stream);
    }
    if (s.context) {
        pa_context_set_state_callback(s.context, nullptr, nullptr);
        pa_context_disconnect(s.context);
        pa_context_unref(s.context);
    }
    pa_threaded_mainloop_unlock(s.mainloop);
    pa_threaded_mainloop_stop(s.mainloop);
    pa_threaded_mainloop_free(s.mainloop);
    m_state.reset();
}

}  // namespace sonorel::pulse
