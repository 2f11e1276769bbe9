// CWaveIn on the scripted and the file backend: the buffer ring and its notifications, every
// failure row with its text, exact lost-frame counts, the WAV checks, and the device list.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

#include "FileCaptureBackend.h"
#include "WaveInDevice.h"
#include "capture_test_util.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // the replacements below pair up
#endif

// Allocation counter for the calling thread, to show the per-block path allocates nothing.
namespace {
std::atomic<long> g_nAllocations{0};
thread_local bool t_bCounting = false;
void* CountedAlloc(size_t size) {
    if (t_bCounting) g_nAllocations.fetch_add(1);
    return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using namespace capture_test;
using namespace std::chrono_literals;
using Delivery = CTestCaptureBackend::Delivery;
namespace fs = std::filesystem;

const std::string kDriver = "Error with sound card driver (cannot ";
const std::string kUnprepare = kDriver + "un-prepare RECORD header).\n";
const std::string kPrepare = kDriver + "prepare RECORD header).\n";
const std::string kAdd = kDriver + "add RECORD buffer).\n";
const std::string kCloseMsg = kDriver + "close RECORD device).\n";
const std::string kOpenMsg =
    kDriver +
    "open RECORD device).\nPlease close program, restart the computer, and try "
    "again.\nIf the problem persists please contact the manufacturer!\n";

uint32_t FrameAt(const WAVEFORMATEX& format, const uint8_t* data, size_t frame = 0) {
    return CTestCaptureBackend::FrameNumberAt(format, data, frame);
}

struct Rig {
    explicit Rig(Delivery delivery = Delivery::Manual) {
        auto owned = std::make_unique<CTestCaptureBackend>(delivery);
        backend = owned.get();
        backend->SetGeneratedSource(UINT64_MAX, CTestCaptureBackend::FrameCounter(format));
        waveIn = std::make_unique<CWaveIn>(std::move(owned));
    }
    void Open() { waveIn->Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION); }
    void OpenAndStart() {
        Open();
        waveIn->AllocateBuffers(kBuf);
        waveIn->Start();
        ASSERT_EQ(ErrorOf(*waveIn), "");
    }
    // Waits for the n-th completed buffer and reads it.
    unsigned long Take(int n) {
        EXPECT_TRUE(notes.WaitForData(n));
        return waveIn->ReadBuffer(block);
    }
    uint32_t FirstFrame() const { return FrameAt(format, block); }

    CTestCaptureBackend* backend;
    WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    Notifications notes;
    std::unique_ptr<CWaveIn> waveIn;
    uint8_t block[kBuf];
};

TEST(WaveIn, BuffersCirculateInQueueOrderWithOneNotificationEach) {
    Rig rig;
    rig.OpenAndStart();
    EXPECT_EQ(rig.notes.Opens(), 1);
    EXPECT_EQ(rig.notes.LastHandle(), rig.waveIn->GetHandle());
    // Nothing completed yet: refused, nothing handed out.
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), 0u);
    EXPECT_EQ(ErrorOf(*rig.waveIn), kUnprepare);
    EXPECT_FALSE(rig.waveIn->IsBufferDone());

    // Five blocks, produced in odd-sized pieces, come out whole, in order and without a gap.
    g_nAllocations = 0;
    for (uint32_t n = 1, expectFrame = 0; n <= 5; ++n, expectFrame += kBuf / 4) {
        rig.backend->Produce(40000);
        rig.backend->Produce(kBuf - 40000);
        ASSERT_TRUE(rig.notes.WaitForData(static_cast<int>(n)));
        ASSERT_TRUE(rig.waveIn->IsBufferDone());
        t_bCounting = true;
        const unsigned long got = rig.waveIn->ReadBuffer(rig.block);
        t_bCounting = false;
        ASSERT_EQ(got, kBuf);
        EXPECT_EQ(ErrorOf(*rig.waveIn), "");
        EXPECT_EQ(rig.FirstFrame(), expectFrame);
        EXPECT_EQ(FrameAt(rig.format, rig.block, kBuf / 4 - 1), expectFrame + kBuf / 4 - 1);
    }
    EXPECT_EQ(g_nAllocations.load(), 0) << "ReadBuffer allocated";
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 0u);

    // Stop hands back the partly filled buffer.
    rig.backend->Produce(1000);
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 1000u);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    EXPECT_EQ(rig.FirstFrame(), 5 * kBuf / 4);
    rig.waveIn->Close();
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
    EXPECT_EQ(rig.notes.Closes(), 1);
    // Five full buffers, the one Stop returned, and the empty one Close's reset returned.
    EXPECT_EQ(rig.notes.Datas(), 7);
}

TEST(WaveIn, SlowReaderLosesExactlyTheFramesThatFoundNoBuffer) {
    Rig rig;
    rig.OpenAndStart();
    // Two buffers fill, then three blocks' worth arrive with none queued.
    rig.backend->Produce(5 * kBuf);
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 3u * kBuf / 4);
    ASSERT_EQ(rig.Take(2), kBuf);
    EXPECT_EQ(rig.FirstFrame(), 0u);
    ASSERT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    rig.backend->Produce(kBuf);
    ASSERT_EQ(rig.Take(3), kBuf);
    EXPECT_EQ(rig.FirstFrame(), 2 * kBuf / 4 + rig.waveIn->GetLostFrames());
    rig.waveIn->Close();
}

TEST(WaveIn, InputEndingWhileNoBufferIsQueuedStillEndsWithAShortBlock) {
    Rig rig;
    rig.backend->SetGeneratedSource(2 * kBuf + 400, CTestCaptureBackend::FrameCounter(rig.format));
    rig.OpenAndStart();
    rig.backend->Produce(3 * kBuf);
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 100u);
    EXPECT_EQ(rig.Take(2), kBuf);
    EXPECT_EQ(rig.Take(3), kBuf);  // the buffer just queued comes back empty
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), 0u);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    EXPECT_FALSE(rig.notes.WaitForData(4, 30)) << "a notification after the end";
    rig.waveIn->Close();
}

TEST(WaveIn, StalledDeviceCompletesNothingUntilResumedAndEndsWithOneShortBlock) {
    Rig rig(Delivery::Automatic);
    rig.backend->SetGeneratedSource(3 * kBuf + 400, CTestCaptureBackend::FrameCounter(rig.format));
    rig.backend->StallAfter(kBuf + 40);
    rig.OpenAndStart();
    ASSERT_TRUE(rig.notes.WaitForData(1));
    EXPECT_FALSE(rig.notes.WaitForData(2, 100));
    rig.backend->Resume();
    std::vector<uint32_t> sizes;
    const auto bytes = ReadAll(*rig.waveIn, rig.notes, kBuf, UINT64_MAX, &sizes);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{kBuf, kBuf, kBuf, 400}));
    for (size_t f = 0; f < bytes.size() / 4; f += 997)
        ASSERT_EQ(FrameAt(rig.format, &bytes[0], f), f);
    EXPECT_FALSE(rig.notes.WaitForData(5, 50)) << "a notification after the end";
    EXPECT_FALSE(rig.waveIn->IsBufferDone());
    rig.waveIn->Close();
}

// Runs Open, AllocateBuffers, Start, one ReadBuffer, Stop and Close with one backend operation
// failing from its n-th call, and compares the first failing step's text.
TEST(WaveIn, EveryFailureRowGivesItsText) {
    const struct {
        TestOp op;
        int fromCall;
        std::string text;
    } rows[] = {
        {TestOp::Open, 1, kOpenMsg},
        {TestOp::Prepare, 1, kPrepare},
        {TestOp::Prepare, 2, kPrepare},
        {TestOp::AddBuffer, 1, kAdd},
        {TestOp::Start, 1, kDriver + "start RECORD device).\n"},
        {TestOp::Prepare, 3, kPrepare},
        {TestOp::AddBuffer, 3, kAdd},
        {TestOp::Unprepare, 1, kUnprepare},
        {TestOp::Stop, 1, kDriver + "stop RECORD device).\n"},
        {TestOp::Reset, 1, kDriver + "reset RECORD device).\n"},
        {TestOp::Close, 1, kCloseMsg},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(row.op)) + " from " +
                     std::to_string(row.fromCall));
        Rig rig;
        rig.backend->FailAt(row.op, row.fromCall);
        std::string failure;
        unsigned long readResult = 1;
        auto step = [&](auto&& call) {
            if (failure.empty()) call(), failure = ErrorOf(*rig.waveIn);
        };
        step([&] { rig.Open(); });
        step([&] { rig.waveIn->AllocateBuffers(kBuf); });
        step([&] { rig.waveIn->Start(); });
        step([&] { rig.backend->Produce(kBuf), readResult = rig.waveIn->ReadBuffer(rig.block); });
        step([&] { rig.waveIn->Stop(rig.block); });
        step([&] { rig.waveIn->Close(); });
        EXPECT_EQ(failure, row.text);
        if (row.op == TestOp::Unprepare || (row.op != TestOp::Start && row.fromCall == 3)) {
            EXPECT_EQ(readResult, 0u);
        }
        if (row.op == TestOp::Close) {
            EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
        }
        rig.backend->ClearFailures();
    }
}

TEST(WaveIn, StopWithNothingToTakeReturnsZeroSilently) {
    Rig rig;
    rig.OpenAndStart();
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 0u);  // nothing captured: the buffer stays queued
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    ASSERT_TRUE(rig.backend->Start());  // resumes with both buffers still queued
    rig.backend->Produce(400);
    rig.backend->FailAt(TestOp::Unprepare);
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 0u);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    rig.backend->ClearFailures();
    rig.waveIn->Close();
}

TEST(WaveIn, QueryAndOpenFormatRules) {
    Rig rig;
    rig.waveIn->QueryFormat(&rig.format);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    rig.backend->FailAt(TestOp::QueryFormat);
    rig.waveIn->QueryFormat(&rig.format);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "Sorry, sound card does not support this RECORD WAV format.\n");

    // The default device, float for 32 bits; a second open while open is refused untouched.
    EXPECT_EQ(rig.waveIn->GetDeviceID(), WAVE_MAPPER);
    EXPECT_EQ(rig.waveIn->OpenFormat(32, 48000, 2), 0);
    EXPECT_EQ(rig.backend->GetOpenedDevice(), WAVE_MAPPER);
    EXPECT_EQ(rig.backend->GetOpenedFormat().wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(rig.backend->GetOpenedFormat().nBlockAlign, 8);
    void* handle = rig.waveIn->GetHandle();
    const int opens = rig.backend->CallCount(TestOp::Open);
    EXPECT_EQ(rig.waveIn->OpenFormat(8, 11025, 1), -1);
    EXPECT_EQ(rig.backend->CallCount(TestOp::Open), opens);
    EXPECT_EQ(rig.waveIn->GetHandle(), handle);
    EXPECT_EQ(rig.backend->GetOpenedFormat().wBitsPerSample, 32);
    rig.waveIn->Close();

    // Unusual bits: the message, and the open is still tried, with tag 1; a device that takes
    // the layout leaves the message and the device open.
    EXPECT_EQ(rig.waveIn->OpenFormat(48, 44100, 2), 0);
    EXPECT_EQ(ErrorOf(*rig.waveIn), "Not an acceptable number of bits per sample.\n");
    EXPECT_EQ(rig.backend->GetOpenedFormat().wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_NE(rig.waveIn->GetHandle(), nullptr);
    rig.waveIn->Close();
    // 12 bits make no whole-byte frame: the failing open replaces the message.
    EXPECT_EQ(rig.waveIn->OpenFormat(12, 44100, 2), 1);
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
    rig.backend->FailAt(TestOp::Open);
    EXPECT_EQ(rig.waveIn->OpenFormat(16, 44100, 2), 1);
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
    rig.backend->ClearFailures();
    rig.waveIn->SetDeviceID(7);  // beyond the one device
    rig.Open();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
}

// Calls out of order: closing a closed device records reset then close; starting without
// buffers, restarting or reopening a running device must not disturb the buffers it holds.
TEST(WaveIn, CallsOutOfOrderAreRefusedWithTheirTexts) {
    Rig closed;
    closed.waveIn->Close();
    EXPECT_EQ(ErrorOf(*closed.waveIn), kCloseMsg);
    EXPECT_EQ(closed.backend->CallCount(TestOp::Reset), 1);
    EXPECT_EQ(closed.backend->CallCount(TestOp::Close), 1);
    closed.Open();
    closed.waveIn->Start();
    EXPECT_EQ(ErrorOf(*closed.waveIn), kPrepare);
    closed.waveIn->Close();

    Rig rig;
    rig.OpenAndStart();
    rig.backend->Produce(kBuf);
    EXPECT_EQ(rig.Take(1), kBuf);  // buffer 1 is now the current one
    rig.waveIn->Start();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kPrepare);
    rig.Open();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
    rig.backend->Produce(kBuf);
    EXPECT_EQ(rig.Take(2), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    rig.waveIn->Close();
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
}

TEST(WaveIn, AllocateBuffersAllocatesOnceAndGrowsSafely) {
    Rig rig;
    g_nAllocations = 0;
    t_bCounting = true;
    rig.waveIn->AllocateBuffers(kBuf);
    rig.waveIn->AllocateBuffers(kBuf);
    rig.waveIn->AllocateBuffers(1024);
    t_bCounting = false;
    EXPECT_EQ(g_nAllocations.load(), 2);

    // Growing after a smaller first size must not let the device write past the blocks...
    Rig grown;
    grown.waveIn->AllocateBuffers(1024);
    grown.OpenAndStart();
    grown.backend->Produce(kBuf);
    EXPECT_EQ(grown.Take(1), kBuf);
    // ... and not while the device holds them.
    grown.waveIn->AllocateBuffers(2 * kBuf);
    EXPECT_EQ(ErrorOf(*grown.waveIn),
              "Not enough memory to create input data buffer.\nClose some programs and try "
              "again.\n");
    grown.waveIn->Close();
}

TEST(WaveIn, DestroyedWhileCapturingClosesTheDeviceFirst) {
    for (int i = 0; i < 20; ++i) {
        Rig rig(Delivery::Automatic);
        rig.OpenAndStart();
        ASSERT_TRUE(rig.notes.WaitForData(1));
        const int filled = rig.notes.Datas();
        rig.waveIn.reset();  // the backend's thread keeps filling until the device is closed
        // Closed, once, before the buffers went: nothing arrives after the close.
        EXPECT_EQ(rig.notes.Closes(), 1);
        const int atClose = rig.notes.Datas();
        EXPECT_GE(atClose, filled);
        EXPECT_EQ(rig.notes.Datas(), atClose);
    }
}

TEST(WaveInDevice, ListIsAppendedEmptiedAndBoundsChecked) {
    auto caps = [](const char* name, uint16_t channels) {
        WaveInCaps c;
        std::snprintf(c.szPname, sizeof c.szPname, "%s", name);
        c.wChannels = channels;
        return c;
    };
    WaveInCaps longName = caps("", 2);
    std::memset(longName.szPname, 'x', sizeof longName.szPname);  // no terminator
    CTestCaptureBackend backend;
    backend.SetDevices({caps("Line In", 2), longName, caps("Mic", 1)});
    CWaveInDevice::RemoveAllDevices();
    EXPECT_TRUE(CWaveInDevice::EnumerateDevices(backend));
    ASSERT_EQ(CWaveInDevice::GetDeviceCount(), 3);
    EXPECT_STREQ(CWaveInDevice::GetDevice(0)->m_szPname, "Line In");
    EXPECT_EQ(std::string(CWaveInDevice::GetDevice(1)->m_szPname), std::string(31, 'x'));
    EXPECT_EQ(CWaveInDevice::GetDevice(2)->m_wChannels, 1);
    EXPECT_THROW(CWaveInDevice::GetDevice(3), std::out_of_range);
    EXPECT_THROW(CWaveInDevice::GetDevice(-1), std::out_of_range);

    // Appended, not replaced; devices whose capabilities fail keep their positions.
    backend.FailAt(TestOp::GetDeviceCaps, 2);
    EXPECT_TRUE(CWaveInDevice::EnumerateDevices(backend));
    ASSERT_EQ(CWaveInDevice::GetDeviceCount(), 6);
    EXPECT_STREQ(CWaveInDevice::GetDevice(3)->m_szPname, "Line In");
    EXPECT_STREQ(CWaveInDevice::GetDevice(4)->m_szPname, "");
    EXPECT_STREQ(CWaveInDevice::GetDevice(5)->m_szPname, "");
    CWaveInDevice::RemoveAllDevices();
    EXPECT_THROW(CWaveInDevice::GetDevice(0), std::out_of_range);
    backend.SetDevices({});
    EXPECT_TRUE(CWaveInDevice::EnumerateDevices(backend));
    EXPECT_EQ(CWaveInDevice::GetDeviceCount(), 0);
}

class FileBackend : public ::testing::Test {
protected:
    void SetUp() override { m_dir = ScratchDir("capture-file"); }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteBytes(m_dir / name, bytes);
        return (m_dir / name).string();
    }
    fs::path m_dir;
};

TEST_F(FileBackend, HeaderChecksNameTheFault) {
    const WAVEFORMATEX pcm = MakeWaveFormat(16, 44100, 2);
    const std::vector<uint8_t> samples(4000, 7);
    WavFileInfo info;
    std::string error;
    ASSERT_TRUE(ReadWavFileInfo(Write("good.wav", MakeWav(pcm, samples, true)), &info, &error));
    EXPECT_EQ(info.format.wBitsPerSample, 16);
    EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(info.format.nChannels, 2);
    EXPECT_EQ(info.nDataOffset, 44u + 12u);  // past the odd LIST chunk and its pad byte
    EXPECT_EQ(info.nDataBytes, 4000u);
    ASSERT_TRUE(ReadWavFileInfo(Write("f.wav", MakeWav(MakeWaveFormat(32, 22050, 1), samples)),
                                &info, &error));
    EXPECT_EQ(info.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);

    auto cut = MakeWav(pcm, samples), stub = MakeWav(pcm, {});
    cut.resize(cut.size() - 1001);
    stub.resize(30);
    // A data size past the end of the file (a streaming writer's, or a cut file) means "to the
    // end", in whole frames.
    ASSERT_TRUE(ReadWavFileInfo(Write("cut.wav", cut), &info, &error)) << error;
    EXPECT_EQ(info.nDataBytes, 2996u);
    EXPECT_TRUE(info.bSizeToEnd);
    EXPECT_EQ(info.nDeclaredBytes, 4000u);
    const std::pair<std::string, std::string> bad[] = {
        {Write("text.wav", std::vector<uint8_t>(13, 'h')), "is not a WAV file"},
        {Write("24.wav", MakeWav(MakeWaveFormat(24, 44100, 2), samples)),
         "holds 24-bit PCM samples; only 16-bit PCM and 32-bit float"},
        {Write("8.wav", MakeWav(MakeWaveFormat(8, 44100, 2), samples)), "8-bit PCM"},
        {Write("half.wav", MakeWav(pcm, std::vector<uint8_t>(4002))), "ends inside a frame"},
        {Write("stub.wav", stub), "truncated"},
        {(m_dir / "missing.wav").string(), "Cannot read"},
        {m_dir.string(), "Cannot read"},
    };
    for (const auto& [path, text] : bad) {
        EXPECT_FALSE(ReadWavFileInfo(path, &info, &error)) << path;
        EXPECT_NE(error.find(text), std::string::npos) << path << ": " << error;
    }
    // An invalid file is a device list without devices that opens nothing.
    CFileCaptureBackend missing((m_dir / "missing.wav").string(), FilePacing::AsFastAsRead);
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.GetDeviceCount(), 0);
    EXPECT_FALSE(missing.Open(0, pcm, nullptr, nullptr));
}

TEST_F(FileBackend, DeliversTheFileExactlyThenOneShortBlockThenNothing) {
    const struct {
        WAVEFORMATEX format;
        uint64_t bytes;
        std::vector<uint32_t> blocks;
    } cases[] = {
        {MakeWaveFormat(16, 44100, 2), 3 * kBuf + 4 * 123, {kBuf, kBuf, kBuf, 4 * 123}},
        {MakeWaveFormat(32, 48000, 2), 2 * kBuf, {kBuf, kBuf, 0}},  // the short block is empty
        {MakeWaveFormat(16, 11025, 1), 0, {0}},
    };
    for (const auto& c : cases) {
        const auto samples = FrameCounterBytes(c.format, c.bytes);
        auto owned = std::make_unique<CFileCaptureBackend>(
            Write("in.wav", MakeWav(c.format, samples, true)), FilePacing::AsFastAsRead);
        CFileCaptureBackend* backend = owned.get();
        CWaveIn waveIn(std::move(owned));
        Notifications notes;
        WAVEFORMATEX other = c.format;
        other.nSamplesPerSec = 96000;
        waveIn.QueryFormat(&other);
        EXPECT_EQ(waveIn.GetErrorFlag(), 1) << "a format other than the file's is refused";
        waveIn.QueryFormat(&c.format);
        EXPECT_EQ(ErrorOf(waveIn), "");
        waveIn.Open(&c.format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        waveIn.AllocateBuffers(kBuf);
        waveIn.Start();
        ASSERT_EQ(ErrorOf(waveIn), "");
        std::vector<uint32_t> blocks;
        EXPECT_EQ(ReadAll(waveIn, notes, kBuf, UINT64_MAX, &blocks), samples);
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(backend->GetBytesRead(), c.bytes);
        EXPECT_FALSE(notes.WaitForData(static_cast<int>(c.blocks.size()) + 1, 30));
        EXPECT_EQ(waveIn.GetLostFrames(), 0u);
        waveIn.Close();
        EXPECT_EQ(ErrorOf(waveIn), "");
        EXPECT_EQ(notes.Opens(), 1);
        EXPECT_EQ(notes.Closes(), 1);
    }
}

TEST_F(FileBackend, RealTimePacingKeepsTheByteRateAndCountsLossesExactly) {
    // One second of audio; the reader holds both buffers for 600 ms, past the device's grace,
    // so the file runs on and what arrives is lost. The frames after the gap prove the count.
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    const auto samples = FrameCounterBytes(format, 176400);
    CWaveIn waveIn(
        MakeFileCaptureBackend(Write("in.wav", MakeWav(format, samples)), FilePacing::RealTime));
    Notifications notes;
    waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
    waveIn.AllocateBuffers(8192);
    const auto start = std::chrono::steady_clock::now();
    waveIn.Start();
    ASSERT_TRUE(notes.WaitForData(2));
    std::this_thread::sleep_for(600ms);
    std::vector<uint8_t> block(8192);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    EXPECT_EQ(FrameAt(format, block.data()), 2048u);
    // Losses stop once a buffer is queued again, so the count is final only now.
    const uint64_t lost = waveIn.GetLostFrames();
    EXPECT_GT(lost, 0u);
    notes.taken = 2;
    const auto rest = ReadAll(waveIn, notes, 8192);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(waveIn.GetLostFrames(), lost) << "nothing more lost once a buffer was queued";
    ASSERT_LE((2 * 2048 + lost) * 4, samples.size());
    EXPECT_TRUE(rest ==
                std::vector<uint8_t>(samples.begin() + (2 * 2048 + lost) * 4, samples.end()));
    waveIn.Close();
}

}  // namespace
