// The file backend: WAV checks with their texts, and the same buffer contract as a sound card,
// read as fast as the reader takes buffers or paced in real time with counted losses.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FileCaptureBackend.h"
#include "TestCaptureBackend.h"
#include "WaveIn.h"
#include "capture_test_util.h"

namespace {

using capture_test::MakeWav;
using capture_test::Notifications;
namespace fs = std::filesystem;

std::vector<uint8_t> FrameCounterBytes(const WAVEFORMATEX& format, uint64_t bytes) {
    std::vector<uint8_t> out(bytes);
    CTestCaptureBackend::FrameCounter(format)(0, out.data(), static_cast<uint32_t>(bytes));
    return out;
}

class FileBackend : public ::testing::Test {
  protected:
    void SetUp() override { m_dir = capture_test::ScratchDir("capture-file"); }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = m_dir / name;
        capture_test::WriteBytes(path, bytes);
        return path.string();
    }

    std::string Rejection(const std::string& path) {
        WavFileInfo info;
        std::string error;
        EXPECT_FALSE(ReadWavFileInfo(path, &info, &error)) << path;
        return error;
    }

    fs::path m_dir;
};

TEST_F(FileBackend, HeaderChecksNameTheFault) {
    const WAVEFORMATEX pcm = MakeWaveFormat(16, 44100, 2);
    const std::vector<uint8_t> samples(4000, 7);

    WavFileInfo info;
    std::string error;
    const std::string good = Write("good.wav", MakeWav(pcm, samples, true));
    ASSERT_TRUE(ReadWavFileInfo(good, &info, &error)) << error;
    EXPECT_EQ(info.format.wBitsPerSample, 16);
    EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(info.format.nChannels, 2);
    EXPECT_EQ(info.nDataOffset, 44u + 12u);  // past the odd LIST chunk and its pad byte
    EXPECT_EQ(info.nDataBytes, 4000u);

    const WAVEFORMATEX flt = MakeWaveFormat(32, 22050, 1);
    ASSERT_TRUE(ReadWavFileInfo(Write("f.wav", MakeWav(flt, samples)), &info, &error));
    EXPECT_EQ(info.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);

    EXPECT_NE(Rejection(Write("text.wav",
                              {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'}))
                  .find("is not a WAV file"),
              std::string::npos);
    EXPECT_NE(Rejection(Write("24.wav", MakeWav(MakeWaveFormat(24, 44100, 2), samples)))
                  .find("holds 24-bit PCM samples; only 16-bit PCM and 32-bit float"),
              std::string::npos);
    EXPECT_NE(
        Rejection(Write("8.wav", MakeWav(MakeWaveFormat(8, 44100, 2), samples))).find("8-bit PCM"),
        std::string::npos);
    auto cut = MakeWav(pcm, samples);
    cut.resize(cut.size() - 1000);
    EXPECT_NE(Rejection(Write("cut.wav", cut))
                  .find("is truncated: its data chunk declares 4000 bytes but 3000 follow"),
              std::string::npos);
    EXPECT_NE(Rejection(Write("halfframe.wav", MakeWav(pcm, std::vector<uint8_t>(4002))))
                  .find("ends inside a frame"),
              std::string::npos);
    auto headerOnly = MakeWav(pcm, {});
    headerOnly.resize(30);
    EXPECT_NE(Rejection(Write("stub.wav", headerOnly)).find("truncated"), std::string::npos);
    EXPECT_NE(Rejection((m_dir / "missing.wav").string()).find("Cannot read"), std::string::npos);
    EXPECT_NE(Rejection(m_dir.string()).find("Cannot read"), std::string::npos);

    // An invalid file is a device list without devices that opens nothing.
    CFileCaptureBackend bad((m_dir / "missing.wav").string(), FilePacing::AsFastAsRead);
    EXPECT_FALSE(bad.IsValid());
    EXPECT_EQ(bad.GetDeviceCount(), 0);
    EXPECT_FALSE(bad.Open(0, pcm, nullptr, nullptr));
}

TEST_F(FileBackend, DeliversTheFileExactlyThenOneShortBlockThenNothing) {
    struct Case {
        WAVEFORMATEX format;
        uint64_t bytes;
        std::vector<uint32_t> blocks;
    };
    constexpr uint32_t kBuf = 65536;
    const Case cases[] = {
        {MakeWaveFormat(16, 44100, 2), 3 * kBuf + 4 * 123, {kBuf, kBuf, kBuf, 4 * 123}},
        {MakeWaveFormat(32, 48000, 2), 2 * kBuf, {kBuf, kBuf, 0}},  // the short block is empty
        {MakeWaveFormat(16, 11025, 1), 0, {0}},
    };
    for (const Case& c : cases) {
        const auto samples = FrameCounterBytes(c.format, c.bytes);
        const std::string path = Write("in.wav", MakeWav(c.format, samples, true));
        auto owned = std::make_unique<CFileCaptureBackend>(path, FilePacing::AsFastAsRead);
        CFileCaptureBackend* backend = owned.get();
        CWaveIn waveIn(std::move(owned));
        Notifications notes;

        WAVEFORMATEX other = c.format;
        other.nSamplesPerSec = 96000;
        waveIn.QueryFormat(&other);
        EXPECT_EQ(waveIn.GetErrorFlag(), 1) << "a format other than the file's is refused";
        waveIn.QueryFormat(&c.format);
        EXPECT_EQ(waveIn.GetErrorFlag(), 0);

        waveIn.Open(&c.format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        ASSERT_EQ(waveIn.GetErrorFlag(), 0);
        waveIn.AllocateBuffers(kBuf);
        waveIn.Start();
        ASSERT_EQ(waveIn.GetErrorFlag(), 0);
        std::vector<uint32_t> blocks;
        EXPECT_EQ(capture_test::ReadAll(waveIn, notes, kBuf, UINT64_MAX, &blocks), samples);
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(backend->GetBytesRead(), c.bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(notes.Data(), static_cast<int>(c.blocks.size()));
        EXPECT_EQ(waveIn.GetLostFrames(), 0u);
        waveIn.Close();
        EXPECT_EQ(waveIn.GetErrorFlag(), 0);
        EXPECT_EQ(notes.open, 1);
        EXPECT_EQ(notes.close, 1);
    }
}

TEST_F(FileBackend, RealTimePacingDeliversAtTheByteRate) {
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    const uint64_t bytes = 176400 / 4;  // a quarter second
    const auto samples = FrameCounterBytes(format, bytes);
    CWaveIn waveIn(
        MakeFileCaptureBackend(Write("in.wav", MakeWav(format, samples)), FilePacing::RealTime));
    Notifications notes;
    waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
    waveIn.AllocateBuffers(8192);
    const auto start = std::chrono::steady_clock::now();
    waveIn.Start();
    EXPECT_EQ(capture_test::ReadAll(waveIn, notes, 8192), samples);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_EQ(waveIn.GetLostFrames(), 0u);
    waveIn.Close();
}

TEST_F(FileBackend, RealTimeLossesAreCountedExactly) {
    // The reader holds both buffers for 600 ms: past the device's grace the file runs on and
    // what arrives is lost. The first frame after the gap proves the count.
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    const uint64_t bytes = 176400 * 2;
    const auto samples = FrameCounterBytes(format, bytes);
    CWaveIn waveIn(
        MakeFileCaptureBackend(Write("in.wav", MakeWav(format, samples)), FilePacing::RealTime));
    Notifications notes;
    waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
    waveIn.AllocateBuffers(8192);
    waveIn.Start();
    ASSERT_TRUE(notes.WaitForData(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const uint64_t lost = waveIn.GetLostFrames();
    EXPECT_GT(lost, 0u);
    std::vector<uint8_t> block(8192);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    EXPECT_EQ(CTestCaptureBackend::FrameNumberAt(format, block.data(), 0), 2048u);
    ASSERT_TRUE(notes.WaitForData(3));
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    EXPECT_EQ(CTestCaptureBackend::FrameNumberAt(format, block.data(), 0),
              2 * 2048u + waveIn.GetLostFrames());
    EXPECT_EQ(waveIn.GetLostFrames(), lost) << "nothing more lost once a buffer was queued";
    waveIn.Close();
}

}  // namespace
