#pragma once

// One playback or record stream on the default device, over a connection of
// its own run by libpulse's thread: the listening tests never share the
// reading connection, and nothing here waits on the server.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace sonorel::pulse {

// Set on our own streams so that readings do not count them as other apps' audio.
inline constexpr const char* ownStreamKey = "sonorel.stream";

class PulseStream {
public:
    // 16-bit little-endian stereo at 44100 Hz, played once from memory: the
    // bytes of `data` from `offset` on.
    struct Playback {
        std::shared_ptr<const std::vector<uint8_t>> data;
        size_t offset = 0;
        // Once the server has played it all, on libpulse's thread; never after stop().
        std::function<void()> played;
    };
    // A source (the default one unless named) in its own rate and channels as 32-bit floats,
    // handed over fragment by fragment on libpulse's thread; nothing is kept.
    struct Record {
        std::function<void(std::span<const float>)> onFragment;
        uint32_t fragmentFrames = 1024;
        std::string source;  // empty: the default source
    };
    // Only the connection: does the server let us in?
    struct Probe {};
    enum class Failure {
        unavailable,  // no server, or it did not answer in time
        refused,      // the server refused the connection (a sandbox without audio access)
        noDevice,     // no default device, or one without channels
        stopped,      // stop() came first
    };
    // Called once: on libpulse's thread when the stream runs (no failure) or
    // could not start, or within stop() when that came first.
    using Started = std::function<void(std::optional<Failure>)>;
    // Called at most once, on libpulse's thread, when a running stream ends
    // without stop(): its device went away or moved, or the server did.
    using Ended = std::function<void()>;

    // `server`: a pulse address; empty: the environment's (PULSE_SERVER or the user's).
    explicit PulseStream(std::string mediaName, std::string server = {});
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Connects and starts the stream; returns at once.
    void start(std::variant<Playback, Record, Probe> what, Started started, Ended ended = {});
    // Ends the stream at once (a playing tone falls silent); no callback runs
    // after it returns. Harmless when not started.
    void stop();

    struct State;

private:
    std::string m_mediaName;
    std::string m_server;
    std::unique_ptr<State> m_state;
};

}  // namespace sonorel::pulse
