// vellisto-split: splits a WAV recording into numbered song files with the recorder's engine.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "split/Splitter.h"

namespace {

std::atomic<int> g_nSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Signal handler: only notes the signal; the main loop stops the recording like Stop does.
extern "C" void OnSignal(int signal) { g_nSignal.store(signal); }

}  // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A song file over the file-size limit must fail its write (and be reported), not kill the
    // program in the middle of a file.
    std::signal(SIGXFSZ, SIG_IGN);

    std::ios::sync_with_stdio(false);
    return RunSplitCommand(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                           &g_nSignal);
}
