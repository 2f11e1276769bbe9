// CWaveIn on the scripted and the file backend: the buffer ring and its notifications, every
// failure row with its text, the WAV checks, exact lost-frame counts, and the device list.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "audio/capture/DeviceLabels.h"
#include "audio/capture/FileCaptureBackend.h"
#include "audio/capture/WaveInDevice.h"
#include "audio/tests/CaptureTestSupport.h"

namespace {

using namespace capture_test;
using Delivery = CTestCaptureBackend::Delivery;

const std::string kDriver = "Error with sound card driver (cannot ";
const std::string kUnprepare = kDriver + "un-prepare RECORD header).\n";
const std::string kPrepare = kDriver + "prepare RECORD header).\n";
const std::string kAdd = kDriver + "add RECORD buffer).\n";
const std::string kOpenMsg =
    kDriver +
    "open RECORD device).\nPlease close program, restart the computer, and try "
    "again.\nIf the problem persists please contact the manufacturer!\n";

uint32_t FrameAt(const WAVEFORMATEX& format, const void* data, size_t frame = 0) {
    return CTestCaptureBackend::FrameNumberAt(format, static_cast<const uint8_t*>(data), frame);
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
    EXPECT_EQ(rig.notes.Read(rig.notes.open), 1);
    EXPECT_EQ(rig.notes.Read(rig.notes.lastHandle), rig.waveIn->GetHandle());
    // Nothing completed yet: refused, nothing handed out.
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), 0u);
    EXPECT_EQ(ErrorOf(*rig.waveIn), kUnprepare);
    // Five blocks, produced in odd-sized pieces, come out whole, in order and without a gap.
    for (uint32_t n = 1; n <= 5; ++n) {
        rig.backend->Produce(40000);
        EXPECT_FALSE(rig.waveIn->IsBufferDone());
        rig.backend->Produce(kBuf - 40000);
        ASSERT_EQ(rig.Take(int(n)), kBuf);
        EXPECT_EQ(ErrorOf(*rig.waveIn), "");
        EXPECT_EQ(rig.FirstFrame(), (n - 1) * kBuf / 4);
        EXPECT_EQ(FrameAt(rig.format, rig.block, kBuf / 4 - 1), n * kBuf / 4 - 1);
    }
    // Stop hands back the partly filled buffer.
    rig.backend->Produce(1000);
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 1000u);
    EXPECT_EQ(rig.FirstFrame(), 5 * kBuf / 4);
    rig.waveIn->Close();
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
    EXPECT_EQ(rig.notes.Read(rig.notes.close), 1);
    // Five full buffers, the one Stop returned, and the empty one Close's reset returned.
    EXPECT_EQ(rig.notes.Read(rig.notes.data), 7);
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

// Runs Open, AllocateBuffers, Start, one ReadBuffer, Stop and Close with one backend operation
// failing from its n-th call, and compares the first failing step's text. (Failures of the
// first open, prepare, add and start are the recording control's early returns; their texts
// are checked there.)
TEST(WaveIn, EveryFailureRowGivesItsText) {
    const struct {
        TestOp op;
        int fromCall;
        std::string text;
    } rows[] = {
        {TestOp::Prepare, 3, kPrepare},  // re-queueing the buffer just read
        {TestOp::AddBuffer, 3, kAdd},
        {TestOp::Unprepare, 1, kUnprepare},
        {TestOp::Stop, 1, kDriver + "stop RECORD device).\n"},
        {TestOp::Reset, 1, kDriver + "reset RECORD device).\n"},
        {TestOp::Close, 1, kDriver + "close RECORD device).\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(int(row.op)) + " from " + std::to_string(row.fromCall));
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
        // A block whose buffer cannot go back into the queue is not handed out.
        if (row.op == TestOp::Unprepare || row.fromCall == 3) {
            EXPECT_EQ(readResult, 0u);
        }
        EXPECT_TRUE(row.op != TestOp::Close || rig.waveIn->GetHandle() == nullptr);
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

TEST(WaveIn, OpenFormatRules) {
    Rig rig;
    // Float for 32 bits; a second open while open is refused untouched.
    EXPECT_EQ(rig.waveIn->OpenFormat(32, 48000, 2), 0);
    EXPECT_EQ(rig.backend->GetOpenedFormat().wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    void* handle = rig.waveIn->GetHandle();
    EXPECT_EQ(rig.waveIn->OpenFormat(8, 11025, 1), -1);
    EXPECT_EQ(rig.backend->CallCount(TestOp::Open), 1);
    EXPECT_EQ(rig.waveIn->GetHandle(), handle);
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
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
    rig.waveIn->SetDeviceID(7);  // beyond the one device
    rig.Open();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
}

// Calls out of order: closing a closed device records reset then close; starting without
// buffers, restarting or reopening a running device must not disturb the buffers it holds, nor
// may growing them while the device holds them.
TEST(WaveIn, CallsOutOfOrderAreRefusedWithTheirTexts) {
    Rig closed;
    closed.waveIn->Close();
    EXPECT_EQ(ErrorOf(*closed.waveIn), kDriver + "close RECORD device).\n");
    EXPECT_EQ(closed.backend->CallCount(TestOp::Reset), 1);
    closed.Open();
    closed.waveIn->Start();
    EXPECT_EQ(ErrorOf(*closed.waveIn), kPrepare);
    closed.waveIn->Close();

    Rig rig;
    rig.waveIn->AllocateBuffers(1024);  // grown below: the device must not write past the blocks
    rig.OpenAndStart();
    rig.backend->Produce(kBuf);
    EXPECT_EQ(rig.Take(1), kBuf);  // buffer 1 is now the current one
    rig.waveIn->Start();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kPrepare);
    rig.Open();
    EXPECT_EQ(ErrorOf(*rig.waveIn), kOpenMsg);
    rig.waveIn->AllocateBuffers(2 * kBuf);
    EXPECT_EQ(ErrorOf(*rig.waveIn),
              "Not enough memory to create input data buffer.\nClose some programs and try "
              "again.\n");
    rig.backend->Produce(kBuf);
    EXPECT_EQ(rig.Take(2), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    rig.waveIn->Close();
    EXPECT_EQ(ErrorOf(*rig.waveIn), "");
}

TEST(WaveIn, DestroyedWhileCapturingClosesTheDeviceFirst) {
    for (int i = 0; i < 20; ++i) {
        Rig rig(Delivery::Automatic);
        rig.OpenAndStart();
        ASSERT_TRUE(rig.notes.WaitForData(1));
        rig.waveIn.reset();  // the backend's thread keeps filling until the device is closed
        // Closed, once, before the buffers went: nothing arrives after the close.
        EXPECT_EQ(rig.notes.Read(rig.notes.close), 1);
        const int atClose = rig.notes.Read(rig.notes.data);
        EXPECT_EQ(rig.notes.Read(rig.notes.data), atClose);
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
    CWaveInDevice::RemoveAllDevices();
    EXPECT_THROW(CWaveInDevice::GetDevice(0), std::out_of_range);
}

// ALSA's descriptions name the plugin devices; the system default under its other names is left
// out, since "System Default" stands for it.
TEST(DeviceLabels, DescriptionsWhereAlsaHasThemAndTheDefaultOnce) {
    const PcmHint card{"sysdefault:CARD=PCH", "HDA Intel PCH, ALC892 Analog"};
    const PcmHint pulse{"pulse", "PulseAudio Sound Server"};
    const PcmHint onPulse{"default", "Default ALSA Output (currently PulseAudio Sound Server)"};
    const PcmHint onPipeWire{"default", "Default ALSA Output (currently PipeWire Media Server)"};
    const PcmHint onCard{"default", "Default Audio Device"};
    const struct {
        const char* name;
        std::vector<PcmHint> hints;
        const char* label;
    } cases[] = {
        {"default", {}, ""},
        {"pulse", {pulse, onPulse}, ""},
        {"pipewire", {onPipeWire}, ""},
        {"pulse", {pulse, onPipeWire}, ""},
        {"pulse", {pulse, onCard}, "PulseAudio Sound Server (pulse)"},
        {"pulse", {}, "pulse"},
        {"sysdefault", {card, pulse}, "HDA Intel PCH, ALC892 Analog (sysdefault)"},
        {"sysdefaultx", {card}, "sysdefaultx"},
        {"HDA Intel PCH: ALC892 Analog (hw:0,0)", {card}, "HDA Intel PCH: ALC892 Analog (hw:0,0)"},
    };
    for (const auto& c : cases) EXPECT_EQ(CaptureDeviceLabel(c.name, c.hints), c.label) << c.name;
}

TEST(FileBackend, AnInvalidFileIsADeviceListWithoutDevices) {
    CTempDir dir;
    CFileCaptureBackend missing((dir / "missing.wav").string(), FilePacing::AsFastAsRead);
    EXPECT_EQ(missing.GetDeviceCount(), 0);
    EXPECT_FALSE(missing.Open(0, MakeWaveFormat(16, 44100, 2), nullptr, nullptr));
}

TEST(FileBackend, DeliversTheFileExactlyThenOneShortBlockThenNothing) {
    CTempDir dir;
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
        const Bytes samples = FrameCounterBytes(c.format, c.bytes);
        WriteFile(dir / "in.wav", MakeWav(FormatOf(c.format), samples, true));
        CWaveIn waveIn(MakeFileCaptureBackend((dir / "in.wav").string(), FilePacing::AsFastAsRead));
        Notifications notes;
        waveIn.Open(&c.format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        waveIn.AllocateBuffers(kBuf);
        waveIn.Start();
        ASSERT_EQ(ErrorOf(waveIn), "");
        std::vector<uint32_t> blocks;
        EXPECT_EQ(ReadAll(waveIn, notes, kBuf, UINT64_MAX, &blocks), samples);
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_FALSE(notes.WaitForData(int(c.blocks.size()) + 1, 30));
        EXPECT_EQ(waveIn.GetLostFrames(), 0u);
        waveIn.Close();
        EXPECT_EQ(ErrorOf(waveIn), "");
    }
}

TEST(FileBackend, RealTimePacingKeepsTheByteRateAndCountsLossesExactly) {
    // One second of audio; the reader holds both buffers until the device has dropped audio
    // that found no buffer. The frames after the gap prove the count.
    CTempDir dir;
    const WAVEFORMATEX format = MakeWaveFormat(16, 44100, 2);
    const Bytes samples = FrameCounterBytes(format, 176400);
    WriteFile(dir / "in.wav", MakeWav(FormatOf(format), samples));
    CWaveIn waveIn(MakeFileCaptureBackend((dir / "in.wav").string(), FilePacing::RealTime));
    Notifications notes;
    waveIn.Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
    waveIn.AllocateBuffers(8192);
    const auto start = std::chrono::steady_clock::now();
    waveIn.Start();
    ASSERT_TRUE(notes.WaitForData(2));
    ASSERT_TRUE(WaitForLostFrames(waveIn));
    Bytes block(8192);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    ASSERT_EQ(waveIn.ReadBuffer(block.data()), 8192u);
    EXPECT_EQ(FrameAt(format, block.data()), 2048u);
    // Losses stop once a buffer is queued again, so the count is final only now.
    const uint64_t lost = waveIn.GetLostFrames();
    notes.taken = 2;
    const Bytes rest = ReadAll(waveIn, notes, 8192);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(waveIn.GetLostFrames(), lost) << "nothing more lost once a buffer was queued";
    ASSERT_LE((2 * 2048 + lost) * 4, samples.size());
    EXPECT_TRUE(rest == Bytes(samples.begin() + long(2 * 2048 + lost) * 4, samples.end()));
    waveIn.Close();
}

}  // namespace
