#include "audio/PortAudioStartUp.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// What PortAudio's start-up wrote while standard error was diverted (see EnsurePortAudio), and
// the real standard error. Set only while Pa_Initialize runs.
int g_nStartUpLog = -1;
int g_nRealStderr = -1;

// Copies the start-up log to fd. Async-signal-safe: runs in the abort handler too.
void ReplayStartUpLog(int fd) {
    if (g_nStartUpLog < 0 || lseek(g_nStartUpLog, 0, SEEK_SET) != 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(g_nStartUpLog, buffer, sizeof buffer)) > 0) {
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(fd, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0) return;
            done += w;
        }
    }
}

void WriteText(int fd, const char* text) {
    if (write(fd, text, std::strlen(text)) < 0) return;
}

constexpr const char kStartUpFailed[] =
    ": the sound system (PortAudio over ALSA) could not be set up; its messages:\n";

// PortAudio aborts (an assertion) when ALSA has no default device, as with an empty ALSA
// configuration: the line that says why must reach the terminal.
extern "C" void ReplayStartUpLogOnAbort(int) {
    if (g_nRealStderr >= 0) {
        dup2(g_nRealStderr, STDERR_FILENO);
        WriteText(STDERR_FILENO, program_invocation_short_name);
        WriteText(STDERR_FILENO, kStartUpFailed);
        ReplayStartUpLog(STDERR_FILENO);
    }
    // Returning lets abort() go on and end the process as it would have.
}

}  // namespace

// PortAudio is set up once per process, on first use, and kept: setting it up again costs a
// device scan each time. Its start-up prints some hundred lines of ALSA and JACK chatter on a
// machine without sound hardware; alsa-lib's goes to a silent handler, and the rest (the JACK
// lines cannot be silenced otherwise) is held in a memory file while standard error is
// diverted there. It reaches the terminal only when the start-up fails or aborts.
bool EnsurePortAudio() {
    static const bool ready = [] {
        snd_lib_error_set_handler(&IgnoreAlsaError);
        std::fflush(stderr);
        g_nRealStderr = dup(STDERR_FILENO);
        g_nStartUpLog = memfd_create("vellisto-portaudio-start", MFD_CLOEXEC);
        if (g_nStartUpLog < 0) g_nStartUpLog = open("/dev/null", O_RDWR | O_CLOEXEC);
        struct sigaction onAbort = {};
        struct sigaction previous = {};
        onAbort.sa_handler = &ReplayStartUpLogOnAbort;
        sigemptyset(&onAbort.sa_mask);
        const bool handled = g_nRealStderr >= 0 && g_nStartUpLog >= 0 &&
                             sigaction(SIGABRT, &onAbort, &previous) == 0;
        const bool diverted = handled && dup2(g_nStartUpLog, STDERR_FILENO) >= 0;
        const PaError error = Pa_Initialize();
        std::fflush(stderr);
        if (handled) sigaction(SIGABRT, &previous, nullptr);
        if (diverted) {
            dup2(g_nRealStderr, STDERR_FILENO);
            if (error != paNoError) {
                WriteText(STDERR_FILENO, program_invocation_short_name);
                WriteText(STDERR_FILENO, kStartUpFailed);
                ReplayStartUpLog(STDERR_FILENO);
                std::fprintf(stderr, "%s: %s\n", program_invocation_short_name,
                             Pa_GetErrorText(error));
            }
        }
        for (int* fd : {&g_nStartUpLog, &g_nRealStderr}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
        return error == paNoError;
    }();
    return ready;
}
