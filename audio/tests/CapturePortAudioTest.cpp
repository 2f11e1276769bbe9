// The real capture path without sound hardware: PortAudio over ALSA reads a raw file through a
// test-only ALSA device ("tapein", the default input), set up by ALSA_CONFIG_PATH in this
// program's test environment. The device is unpaced and repeats stale data after the file's
// end, so every read stops at a known byte count.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "audio/capture/WaveInDevice.h"
#include "audio/tests/CaptureTestSupport.h"

namespace {

using namespace capture_test;

class PortAudioCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_dir = std::make_unique<CTempDir>(); }
    static void TearDownTestSuite() { s_dir.reset(); }

    // Writes `bytes` of the frame-counter sequence as the tape and returns them.
    static Bytes LoadTape(const WAVEFORMATEX& format, uint64_t bytes) {
        const Bytes tape = FrameCounterBytes(format, bytes);
        WriteFile(*s_dir / "tape.raw", tape);
        setenv("VELLISTO_TAPE_IN", (*s_dir / "tape.raw").c_str(), 1);
        return tape;
    }
    static void OpenAndStart(CWaveIn& waveIn, const WAVEFORMATEX& format, Notifications& notes) {
        waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        waveIn.AllocateBuffers(kBuf);
        waveIn.Start();
        ASSERT_EQ(ErrorOf(waveIn), "");
    }

    static std::unique_ptr<CTempDir> s_dir;
};
std::unique_ptr<CTempDir> PortAudioCapture::s_dir;

// Runs first, before anything has set PortAudio up in this process.
TEST_F(PortAudioCapture, StartUpKeepsTheTerminalQuiet) {
    const fs::path log = *s_dir / "stderr.txt";
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO),
              file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    const int count = MakePortAudioBackend()->GetDeviceCount();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved), close(file);
    EXPECT_GE(count, 1);
    EXPECT_EQ(fs::file_size(log), 0u) << "PortAudio start-up wrote to stderr";
}

// What the ALSA configuration gives at start-up is fixed for the process: these run the
// start-up again in a fresh copy of the program.
TEST_F(PortAudioCapture, WithoutAnyCaptureDeviceRecordSaysSo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path missing = *s_dir / "no-tape.raw";  // the tape device then only plays
    EXPECT_EXIT(
        {
            setenv("VELLISTO_TAPE_IN", missing.c_str(), 1);
            CWaveIn waveIn;
            const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
            waveIn.QueryFormat(&format);
            std::fprintf(stderr, "%s", waveIn.GetErrorText());
            std::exit(waveIn.GetErrorKind() == CaptureError::NoDevice ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^No recording device was found.\nPlease check");
}

// Without a default device in the ALSA configuration PortAudio 19.6 aborts inside its start-up;
// the line that says why reaches standard error, after one of our own.
TEST_F(PortAudioCapture, AnAbortedStartUpStillSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path config = *s_dir / "no-default.conf";
    const std::string text = "pcm.nothing { type null }\n";
    WriteFile(config, Bytes(text.begin(), text.end()));
    EXPECT_DEATH(
        {
            setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
            MakePortAudioBackend()->GetDeviceCount();
        },
        "the sound system \\(PortAudio over ALSA\\) could not be set up; its messages:\n"
        ".*pa_linux_alsa.c.*Assertion");
}

TEST_F(PortAudioCapture, DeviceListPositionOpensTheTapeAndTheFormatCheckIsReal) {
    LoadTape(MakeWaveFormat(16, 44100, 2), kBuf);
    CWaveInDevice::RemoveAllDevices();
    ASSERT_TRUE(CWaveInDevice::EnumerateDevices());
    int tape = -1;
    for (int i = 0; i < CWaveInDevice::GetDeviceCount(); ++i) {
        if (std::string(CWaveInDevice::GetDevice(i)->m_szPname) == "tapein") tape = i;
    }
    ASSERT_GE(tape, 0);
    EXPECT_GE(CWaveInDevice::GetDevice(tape)->m_wChannels, 2);
    CWaveInDevice::RemoveAllDevices();

    CWaveIn waveIn;
    waveIn.SetDeviceID(static_cast<uint32_t>(tape));
    EXPECT_EQ(waveIn.OpenFormat(16, 44100, 2), 0) << waveIn.GetErrorText();
    waveIn.Close();
    EXPECT_EQ(ErrorOf(waveIn), "");
    waveIn.SetDeviceID(9999);
    EXPECT_EQ(waveIn.OpenFormat(16, 44100, 2), 1);
    waveIn.SetDeviceID(WAVE_MAPPER);

    for (int bits : {16, 32, 64}) {
        const WAVEFORMATEX format = MakeWaveFormat(bits, bits == 32 ? 48000 : 44100, 2);
        waveIn.QueryFormat(&format);
        EXPECT_EQ(ErrorOf(waveIn),
                  bits == 64 ? "Sorry, sound card does not support this RECORD WAV format.\n" : "");
    }
}

TEST_F(PortAudioCapture, SlowReaderLossIsCountedExactly) {
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    LoadTape(format, 16 * kBuf);
    CWaveIn waveIn;
    Notifications notes;
    OpenAndStart(waveIn, format, notes);
    ASSERT_TRUE(notes.WaitForData(2));
    // Both buffers full and held: after the grace, the card's audio is drained and counted.
    ASSERT_TRUE(WaitForLostFrames(waveIn));
    Bytes block(kBuf);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    ASSERT_TRUE(notes.WaitForData(3));
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), kBuf);
    const uint64_t lost = waveIn.GetLostFrames();
    EXPECT_EQ(
        CTestCaptureBackend::FrameNumberAt(format, reinterpret_cast<uint8_t*>(block.data()), 0),
        2 * kBuf / 4 + lost);
    EXPECT_LT(lost, 16u * kBuf / 4 - 3 * kBuf / 4) << "the tape ran out: the check proves nothing";
    waveIn.Close();
}

}  // namespace
