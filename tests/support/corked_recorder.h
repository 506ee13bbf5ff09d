#pragma once

// A recording stream that connects paused (corked), as an app that has opened
// the microphone but is not recording yet. Lives in the test process with a
// libpulse connection of its own, so the server sees it as another client.

#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace sonorel::testing {

class CorkedRecorder {
public:
    CorkedRecorder(const std::string& serverAddress, const std::string& source);
    ~CorkedRecorder();
    CorkedRecorder(const CorkedRecorder&) = delete;
    CorkedRecorder& operator=(const CorkedRecorder&) = delete;

    // Starts or pauses recording; waits until the server has done it.
    void setCorked(bool corked);

private:
    void waitUntil(bool (*ready)(CorkedRecorder&));

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_done = false;
};

}  // namespace sonorel::testing
