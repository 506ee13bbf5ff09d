#pragma once

// A recording stream of another client, in the test process with a libpulse
// connection of its own: an app that opened the microphone but has not
// started yet (paused), or a volume control's level meter (25 peaks a second
// by the server's peak detection, as pavucontrol and desktop sound panels
// open one per device).

#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace sonorel::testing {

class RecordingClient {
public:
    enum class Kind { paused, levelMeter };

    RecordingClient(const std::string& serverAddress, const std::string& source, Kind kind = Kind::paused);
    ~RecordingClient();
    RecordingClient(const RecordingClient&) = delete;
    RecordingClient& operator=(const RecordingClient&) = delete;

    // Starts or pauses recording; waits until the server has done it.
    void setCorked(bool corked);

private:
    void waitUntil(bool (*ready)(RecordingClient&));

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_done = false;
};

}  // namespace sonorel::testing
