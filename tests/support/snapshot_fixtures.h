#pragma once

// Small builders for hand-made readings; tests change the fields they are about.

#include "model/activity_log.h"
#include "model/audio_snapshot.h"

#include <string>
#include <utility>
#include <vector>

namespace sonorel::fixtures {

inline Date at(double secondsSince2001)
{
    return dateFromSecondsSinceReferenceDate(secondsSince2001);
}

// An alive device at 48 kHz with no channels yet.
inline AudioDevice device(AudioObjectID id, std::string name, AudioTransport transport)
{
    AudioDevice d;
    d.id = id;
    d.uid = "uid-" + name;
    d.name = std::move(name);
    d.transport = transport;
    d.isAlive = true;
    d.sampleRate = 48000;
    d.availableRates = {{48000, 48000}};
    return d;
}

// An alive stereo output at 48 kHz (44.1 accepted), settable main volume 0.5, unmuted.
inline AudioDevice output(AudioObjectID id, std::string name, AudioTransport transport = AudioTransport::builtIn)
{
    AudioDevice d = device(id, std::move(name), transport);
    d.outputChannels = 2;
    d.availableRates = {{44100, 44100}, {48000, 48000}};
    d.volume = 0.5f;
    d.isMuted = false;
    d.canSetVolume = d.canSetMute = d.canSetRate = true;
    return d;
}

// An alive mono input at 48 kHz with a settable element-0 control at 0.5, unmuted.
inline AudioDevice input(AudioObjectID id, std::string name, AudioTransport transport = AudioTransport::builtIn)
{
    AudioDevice d = device(id, std::move(name), transport);
    d.inputChannels = 1;
    d.inputControls = {AudioChannelState{0, 0.5f, false, true, true, {}}};
    return d;
}

inline AudioChannelState control(uint32_t element, std::optional<float> volume, std::optional<bool> muted,
                                 bool canSetVolume = true, bool canSetMute = true)
{
    return AudioChannelState{element, volume, muted, canSetVolume, canSetMute, {}};
}

// A readable snapshot captured at t = 1000 s whose default output, input and
// alert output are the given ids (absent when 0).
inline AudioSnapshot snapshot(std::vector<AudioDevice> devices, AudioObjectID outputID = 0, AudioObjectID inputID = 0,
                              AudioObjectID systemOutputID = 0)
{
    AudioSnapshot s;
    s.devices = std::move(devices);
    if (outputID)
        s.outputID = outputID;
    if (inputID)
        s.inputID = inputID;
    if (systemOutputID)
        s.systemOutputID = systemOutputID;
    s.capturedAt = at(1000);
    s.inputActivityKnown = true;
    s.clientActivityKnown = true;
    s.canSetSystemOutput = true;
    return s;
}

// A signal entry numbered n: id ending in n, dated t = n s, titled "Entry n".
inline ActivityEntry activityEntry(int n)
{
    ActivityEntry e;
    e.id.bytes[14] = uint8_t(n >> 8);
    e.id.bytes[15] = uint8_t(n);
    e.date = at(n);
    e.title = "Entry " + std::to_string(n);
    e.detail = "Detail " + std::to_string(n);
    e.kind = ActivityEntry::Kind::signal;
    return e;
}

}  // namespace sonorel::fixtures
