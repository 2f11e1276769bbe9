// The desktop's volume-control program, which the mixer buttons and a failed auto-configuration
// open for the user. The window side implements it (a detached process); tests record the
// launches. User-interface thread.
#pragma once

#include <cstdint>
#include <string>

// Recording and Playback: the card's capture and playback controls. Streams: which input each
// program records from, which a sound server (PulseAudio, PipeWire) sets per program.
enum class MixerView { Recording, Playback, Streams };

// The kind of program Open starts, which decides what the user is told to expect: a graphical
// volume control (pavucontrol), a terminal mixer (alsamixer in a terminal window), or none.
enum class VolumeControlKind { Graphical, Terminal, None };

class IVolumeControl {
public:
    virtual ~IVolumeControl() = default;

    // Starts the program on that view, detached. deviceId is the capture device id
    // (WAVE_MAPPER, -1, for the system default), card the mixer's name of its card (see
    // ICaptureBackend::GetMixerDeviceName; empty when unknown). False when no program could be
    // started.
    virtual bool Open(MixerView view, uint32_t deviceId, const std::string& card) = 0;
    // The program Open would start now.
    virtual VolumeControlKind Kind() const = 0;
};
