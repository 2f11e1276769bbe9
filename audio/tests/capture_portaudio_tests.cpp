// The real capture path without sound hardware: PortAudio over ALSA reads a raw file through a
// test-only ALSA device ("tapein", the default input), set up by ALSA_CONFIG_PATH in this
// program's test environment. The device is unpaced and repeats stale data after the file's
// end, so every read stops at a known byte count.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "TestCaptureBackend.h"
#include "WaveIn.h"
#include "WaveInDevice.h"
#include "capture_test_util.h"

namespace {

using capture_test::Notifications;
namespace fs = std::filesystem;
constexpr uint32_t kBuf = 65536;

class PortAudioCapture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_dir = capture_test::ScratchDir("capture-pa"); }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    // Writes `bytes` of the frame-counter sequence as the tape and returns them.
    static std::vector<uint8_t> LoadTape(const WAVEFORMATEX& format, uint64_t bytes) {
        std::vector<uint8_t> tape(bytes);
        CTestCaptureBackend::FrameCounter(format)(0, tape.data(), static_cast<uint32_t>(bytes));
        const fs::path path = s_dir / "tape.raw";
        capture_test::WriteBytes(path, tape);
        setenv("VELLISTO_TAPE_IN", path.c_str(), 1);
        return tape;
    }

    static fs::path s_dir;
};
fs::path PortAudioCapture::s_dir;

// Runs first, before anything has set PortAudio up in this process.
TEST_F(PortAudioCapture, StartUpKeepsTheTerminalQuiet) {
    const fs::path log = s_dir / "stderr.txt";
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    const int count = MakePortAudioBackend()->GetDeviceCount();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    EXPECT_GE(count, 1);
    EXPECT_EQ(fs::file_size(log), 0u) << "PortAudio start-up wrote to stderr";
}

TEST_F(PortAudioCapture, DeviceListShowsTheTapeAndItsPositionOpensIt) {
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    LoadTape(format, kBuf);
    CWaveInDevice::RemoveAllDevices();
    ASSERT_TRUE(CWaveInDevice::EnumerateDevices());
    int tape = -1;
    for (int i = 0; i < CWaveInDevice::GetDeviceCount(); ++i) {
        if (std::string(CWaveInDevice::GetDevice(i)->m_szPname) == "tapein") tape = i;
    }
    ASSERT_GE(tape, 0);
    const CWaveInDevice* device = CWaveInDevice::GetDevice(tape);
    EXPECT_GE(device->m_wChannels, 2);
    CWaveInDevice::RemoveAllDevices();

    CWaveIn waveIn;
    waveIn.SetDeviceID(static_cast<uint32_t>(tape));
    EXPECT_EQ(waveIn.OpenFormat(16, 44100, 2), 0) << waveIn.GetErrorText();
    waveIn.Close();
    EXPECT_EQ(waveIn.GetErrorFlag(), 0);
    waveIn.SetDeviceID(9999);
    EXPECT_EQ(waveIn.OpenFormat(16, 44100, 2), 1);
}

TEST_F(PortAudioCapture, FormatCheckIsReal) {
    CWaveIn waveIn;
    const WAVEFORMATEX pcm = MakeWaveFormat(16, 44100, 2);
    const WAVEFORMATEX flt = MakeWaveFormat(32, 48000, 2);
    const WAVEFORMATEX wide = MakeWaveFormat(64, 44100, 2);
    waveIn.QueryFormat(&pcm);
    EXPECT_EQ(waveIn.GetErrorFlag(), 0);
    waveIn.QueryFormat(&flt);
    EXPECT_EQ(waveIn.GetErrorFlag(), 0);
    waveIn.QueryFormat(&wide);
    EXPECT_EQ(waveIn.GetErrorFlag(), 1);
    EXPECT_STREQ(waveIn.GetErrorText(),
                 "Sorry, sound card does not support this RECORD WAV format.\n");
}

// The default device (-1) records the tape unchanged from byte 0, in both sample formats.
TEST_F(PortAudioCapture, RecordsTheTapeByteForByte) {
    for (const WAVEFORMATEX& format :
         {MakeWaveFormat(16, 44100, 2), MakeWaveFormat(32, 44100, 2)}) {
        SCOPED_TRACE(format.wBitsPerSample);
        const auto tape = LoadTape(format, 6 * kBuf);
        CWaveIn waveIn;
        Notifications notes;
        waveIn.QueryFormat(&format);
        ASSERT_EQ(waveIn.GetErrorFlag(), 0);
        waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        ASSERT_EQ(waveIn.GetErrorFlag(), 0) << waveIn.GetErrorText();
        EXPECT_EQ(notes.open, 1);
        waveIn.AllocateBuffers(kBuf);
        waveIn.Start();
        ASSERT_EQ(waveIn.GetErrorFlag(), 0);
        const auto got = capture_test::ReadAll(waveIn, notes, kBuf, 4 * kBuf);
        EXPECT_TRUE(got == std::vector<uint8_t>(tape.begin(), tape.begin() + 4 * kBuf))
            << "captured bytes differ from the tape";
        EXPECT_EQ(waveIn.GetLostFrames(), 0u);
        std::vector<uint8_t> rest(kBuf);
        const unsigned long partial = waveIn.Stop(rest.data());
        EXPECT_EQ(waveIn.GetErrorFlag(), 0);
        EXPECT_LE(partial, kBuf);
        waveIn.Close();
        EXPECT_EQ(waveIn.GetErrorFlag(), 0);
        EXPECT_EQ(notes.close, 1);
    }
}

TEST_F(PortAudioCapture, SlowReaderLossIsCountedExactly) {
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    LoadTape(format, 16 * kBuf);
    CWaveIn waveIn;
    Notifications notes;
    waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
    ASSERT_EQ(waveIn.GetErrorFlag(), 0) << waveIn.GetErrorText();
    waveIn.AllocateBuffers(kBuf);
    waveIn.Start();
    ASSERT_TRUE(notes.WaitForData(2));
    // Both buffers full and held: after the grace, the card's audio is drained and counted.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_GT(waveIn.GetLostFrames(), 0u);
    std::vector<uint8_t> block(kBuf);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    ASSERT_TRUE(notes.WaitForData(3));
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    const uint64_t lost = waveIn.GetLostFrames();
    EXPECT_EQ(CTestCaptureBackend::FrameNumberAt(format, block.data(), 0), 2 * kBuf / 4 + lost);
    EXPECT_LT(lost, 16u * kBuf / 4 - 3 * kBuf / 4) << "the tape ran out: the check proves nothing";
    waveIn.Close();
}

}  // namespace
