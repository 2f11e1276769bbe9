// The level monitor on scripted capture devices: it lets the device go for another user and
// takes it again, its readouts are the ones a recording's blocks give, and a device that cannot
// be opened or fails says why.
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "audio/capture/TestCaptureBackend.h"
#include "engine/LevelMonitor.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr long kBlock = 16384;

// A 16-bit stereo sine of 64-frame period at the given amplitude (1.0 full scale), left and
// right alike: every block holds whole periods, so every block reads the same.
CTestCaptureBackend::Generator Sine(double amplitude) {
    return [amplitude](uint64_t offset, uint8_t* dest, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t byte = offset + i;
            const uint64_t frame = byte / 4;
            const double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * double(frame % 64) / 64.0);
            const auto sample = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v)));
            dest[i] = static_cast<uint8_t>((byte % 2 == 0) ? sample & 0xFF : sample >> 8);
        }
    };
}

// The monitor with its state changes counted, so a test waits for a change, not for time.
struct Monitored {
    explicit Monitored(std::unique_ptr<ICaptureBackend> device)
        : pDevice(dynamic_cast<CTestCaptureBackend*>(device.get())) {
        monitor = std::make_unique<CLevelMonitor>(std::move(device));
        monitor->m_nBufferSize = kBlock;
        // A failed device is tried again only where a test asks for it.
        monitor->m_nRetryMs = 3600 * 1000;
        monitor->SetStateCallback([this] {
            std::lock_guard<std::mutex> guard(mutex);
            changed.notify_all();
        });
    }
    // Waits for a state; the limit only keeps a broken build from hanging.
    bool WaitFor(MonitorState state) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return monitor->GetState() == state; });
    }
    bool WaitForBlocks(uint64_t count) {
        for (int i = 0; i < 200000 && monitor->GetBlockCount() < count; ++i) {
            std::this_thread::yield();
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(1));
        }
        return monitor->GetBlockCount() >= count;
    }
    CTestCaptureBackend* pDevice;
    // Before the monitor: its thread may still report while it is destroyed.
    std::mutex mutex;
    std::condition_variable changed;
    std::unique_ptr<CLevelMonitor> monitor;
};

RecSettings Stereo16() {
    RecSettings s;
    s.bDCBlock = 0;
    return s;
}

}  // namespace

TEST(LevelMonitorTest, LetsTheDeviceGoForAnotherUserAndTakesItAgain) {
    auto holder = std::make_shared<CTestCaptureBackend::DeviceHolder>(nullptr);
    auto mine = std::make_unique<CTestCaptureBackend>();
    mine->ShareDevice(holder);
    auto theirs = std::make_unique<CTestCaptureBackend>();
    theirs->ShareDevice(holder);
    CWaveIn other(std::move(theirs));
    Monitored m(std::move(mine));

    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitFor(MonitorState::Running));
    EXPECT_TRUE(m.monitor->HoldsDevice());
    // The device is one: while the monitor holds it, nobody else gets it.
    EXPECT_EQ(other.OpenFormat(16, 44100, 2), 1);

    EXPECT_TRUE(m.monitor->Release());
    EXPECT_FALSE(m.monitor->HoldsDevice());
    EXPECT_EQ(m.monitor->GetState(), MonitorState::Off);
    ASSERT_EQ(other.OpenFormat(16, 44100, 2), 0);
    // Asked again while the other user holds it: it says so, with the device named.
    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitFor(MonitorState::Failed));
    EXPECT_EQ(m.monitor->GetFailure(), CTestCaptureBackend::kTestBusy);
    other.Close();

    // A release and a new request try a failed device again at once.
    m.monitor->Monitor(Stereo16());
    EXPECT_EQ(m.monitor->GetState(), MonitorState::Failed);
    EXPECT_TRUE(m.monitor->Release());
    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitFor(MonitorState::Running));
    EXPECT_EQ(m.pDevice->CallCount(TestOp::Open), 3);
}

TEST(LevelMonitorTest, ReadsAsTheRecordingsAnalyserDoesAndClearsOnRelease) {
    auto device = std::make_unique<CTestCaptureBackend>();
    device->SetGeneratedSource(UINT64_MAX, Sine(0.5));
    Monitored m(std::move(device));
    int power = 0, peak = 0, clips = 0;
    m.monitor->GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);

    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitForBlocks(3));

    // The same block through an analyser and the meter levels of a recording.
    std::vector<uint8_t> block(kBlock);
    Sine(0.5)(0, block.data(), kBlock);
    CSignalAnalyzer analyser;
    RecSettings settings = Stereo16();
    ApplySettings(settings, analyser);
    analyser.PrepareRecording();
    analyser.ProcessBlock(block.data(), kBlock);
    CMeterLevels expected;
    expected.Deposit(analyser.m_fPeak, analyser.m_fPower, analyser.m_nClipCount);
    for (int ch = 0; ch < 2; ++ch) {
        int wantPower = 0, wantPeak = 0, wantClips = 0;
        expected.Read(ch, &wantPower, &wantPeak, &wantClips);
        m.monitor->GetMeterLevels(ch, &power, &peak, &clips);
        EXPECT_EQ(peak, -6) << ch;
        EXPECT_EQ(peak, wantPeak) << ch;
        EXPECT_EQ(power, wantPower) << ch;
        EXPECT_EQ(clips, 0) << ch;
    }

    EXPECT_TRUE(m.monitor->Release());
    m.monitor->GetMeterLevels(1, &power, &peak, &clips);
    EXPECT_EQ(power, -100);
    EXPECT_EQ(peak, -100);
}

TEST(LevelMonitorTest, ADeviceThatCannotOpenOrFailsSaysWhy) {
    struct Case {
        const char* name;
        bool failOpen;
        const char* why;
    };
    for (const Case& c : {Case{"refused", true, CTestCaptureBackend::kTestRefused},
                          Case{"pulled out", false, CTestCaptureBackend::kTestFailure}}) {
        SCOPED_TRACE(c.name);
        auto device = std::make_unique<CTestCaptureBackend>();
        if (c.failOpen) {
            device->FailAt(TestOp::Open);
        } else {
            device->FailAfter(3 * kBlock + 100);
        }
        Monitored m(std::move(device));
        m.monitor->Monitor(Stereo16());
        ASSERT_TRUE(m.WaitFor(MonitorState::Failed));
        EXPECT_EQ(m.monitor->GetFailure(), c.why);
        EXPECT_FALSE(m.monitor->HoldsDevice());
        int power = 0, peak = 0, clips = 0;
        m.monitor->GetMeterLevels(0, &power, &peak, &clips);
        EXPECT_EQ(peak, -100);
    }
}

// The device comes back (a card plugged in again, a sound server restarted) after it could not
// be opened or after it failed while running: the monitor takes it again by itself.
TEST(LevelMonitorTest, TakesAFailedDeviceAgainOnceItAnswers) {
    for (bool failOpen : {true, false}) {
        SCOPED_TRACE(failOpen ? "refused" : "pulled out");
        auto device = std::make_unique<CTestCaptureBackend>();
        device->SetGeneratedSource(UINT64_MAX, Sine(0.5));
        if (failOpen) {
            device->FailAt(TestOp::Open);
        } else {
            device->FailAfter(3 * kBlock + 100);  // after three blocks of every opening
        }
        Monitored m(std::move(device));
        m.monitor->m_nRetryMs = 10;
        m.monitor->Monitor(Stereo16());
        ASSERT_TRUE(m.WaitFor(MonitorState::Failed));
        if (failOpen) {
            EXPECT_EQ(m.monitor->GetBlockCount(), 0u);
            m.pDevice->ClearFailures();
            ASSERT_TRUE(m.WaitFor(MonitorState::Running));
        }
        // Blocks beyond the first opening's reach the meters.
        ASSERT_TRUE(m.WaitForBlocks(5));
        EXPECT_GE(m.pDevice->CallCount(TestOp::Open), 2);
        EXPECT_TRUE(m.monitor->Release());
        EXPECT_FALSE(m.monitor->HoldsDevice());
    }
}

TEST(LevelMonitorTest, AReadThatHangsDoesNotHoldTheReleaseForever) {
    auto device = std::make_unique<CTestCaptureBackend>();
    device->HangAfter(2 * kBlock);
    Monitored m(std::move(device));
    CTestCaptureBackend* hanging = m.pDevice;
    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitFor(MonitorState::Running));
    for (int i = 0; i < 200000 && !hanging->IsHanging(); ++i) std::this_thread::yield();
    ASSERT_TRUE(hanging->IsHanging());
    // The backend gives the read up after its own bound and closes the device behind it.
    EXPECT_TRUE(m.monitor->Release(CLevelMonitor::kReleaseTimeoutMs * 10));
    EXPECT_FALSE(m.monitor->HoldsDevice());
    hanging->ReleaseHang();
    // The device closes behind the read once it returns: a backend still closing when the test
    // ends is let go (as at the program's exit) and would be a leak.
    EXPECT_TRUE(hanging->WaitClosedInBackground(60000));
}

// The real capture path: PortAudio over ALSA's file plugin (the program's ALSA configuration
// plays $VELLISTO_TAPE_IN as the default input), and a device that is not there.
TEST(LevelMonitorPortAudioTest, ReadsTheDefaultInputAndNamesADeviceThatIsNotThere) {
    testsupport::CTempDir dir;
    std::vector<uint8_t> tape(8 * kBlock);
    Sine(0.5)(0, tape.data(), static_cast<uint32_t>(tape.size()));
    std::ofstream(dir / "tape.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(tape.data()), std::streamsize(tape.size()));
    setenv("VELLISTO_TAPE_IN", (dir / "tape.raw").c_str(), 1);

    Monitored m(MakePortAudioBackend());
    m.monitor->Monitor(Stereo16());
    ASSERT_TRUE(m.WaitForBlocks(2)) << m.monitor->GetFailure();
    int power = 0, peak = 0, clips = 0;
    m.monitor->GetMeterLevels(1, &power, &peak, &clips);
    EXPECT_EQ(peak, -6);
    EXPECT_TRUE(m.monitor->Release());

    RecSettings absent = Stereo16();
    absent.nWaveInID = 7;
    m.monitor->Monitor(absent);
    ASSERT_TRUE(m.WaitFor(MonitorState::Failed));
    EXPECT_EQ(m.monitor->GetFailure(), "the chosen recording device is not present");
}
