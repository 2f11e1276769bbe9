// PortAudio's one start-up per process, shared by capture and playback. Its start-up prints some
// hundred lines of ALSA and JACK chatter on a machine without sound hardware; they are held back
// and reach the terminal only when the start-up fails or aborts. Private to vellisto_audio.
#pragma once

// Sets PortAudio up on first use and keeps it; false when it could not be set up. Any thread
// (the first call sets it up once; the others wait for it).
bool EnsurePortAudio();

// An ALSA error handler that says nothing: ALSA's own messages go to standard error, where they
// would drown what the program says; each caller reports its failures itself.
inline void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
