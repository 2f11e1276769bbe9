// Record's start time, from the press to the first block written to the song file, with the
// level monitor holding the device (it lets go first, as the window's Record does) and without
// it. Both sides run on scripted capture devices that deliver at once and share one device
// that only one of them can have open, so the figures are the program's own cost: the
// monitor's release against the recording's open, not a sound card's latency.
//
// Folder for the song files: $VELLISTO_BENCH_DIR, else the build folder.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "audio/capture/TestCaptureBackend.h"
#include "engine/LevelMonitor.h"
#include "engine/RecordingControl.h"

namespace {

std::string BenchFolder() {
    const char* folder = std::getenv("VELLISTO_BENCH_DIR");
    return folder && *folder ? folder : VELLISTO_BENCH_DEFAULT_DIR;
}

// Takes the recording thread's messages; the first progress report means a block is written.
class CFirstBlock : public IRecordingSink {
public:
    void PostRecordingProgress(const RecordingProgress&) override { m_written.Set(); }
    void PostRecordingDone() override { m_done.Set(); }
    CEvent m_written;
    CEvent m_done;
};

void BM_RecordStart(benchmark::State& state) {
    const bool monitoring = state.range(0) != 0;
    auto holder = std::make_shared<CTestCaptureBackend::DeviceHolder>(nullptr);
    auto recording = std::make_unique<CTestCaptureBackend>();
    recording->ShareDevice(holder);
    auto monitorDevice = std::make_unique<CTestCaptureBackend>();
    monitorDevice->ShareDevice(holder);
    CFirstBlock sink;
    CRecordingControl control(&sink, std::move(recording));
    CLevelMonitor monitor(std::move(monitorDevice));
    const std::string base = BenchFolder() + "/record_start_bench.wav";
    control.GetWriter().SetFileName(base.c_str());
    const RecordRequest request{true, "record_start_bench.wav", base};

    for (auto _ : state) {
        if (monitoring) {
            monitor.Monitor(control.m_settings);
            while (!monitor.HoldsDevice()) std::this_thread::yield();
        }
        sink.m_written.Reset();
        const auto press = std::chrono::steady_clock::now();
        if (monitoring) monitor.Release();
        const bool started =
            control.Prepare(request).refusal == StartRefusal::None && !control.Start().Refused();
        if (!started) {
            state.SkipWithError("Record was refused");
            break;
        }
        sink.m_written.Lock();
        const auto written = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(written - press).count());
        control.OnStop();
        sink.m_done.Lock();
        (void)control.Finish();
    }
    std::filesystem::remove(BenchFolder() + "/record_start_bench1.wav");
    std::filesystem::remove(BenchFolder() + "/record_start_bench2.wav");
}
BENCHMARK(BM_RecordStart)
    ->ArgName("monitoring")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
