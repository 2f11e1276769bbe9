// CWaveIn and CWaveInDevice on the scripted backend: the buffer ring and its notifications,
// every failure row with its text, lost-frame counting, the device list.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestCaptureBackend.h"
#include "WaveIn.h"
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
void* operator new[](size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using capture_test::Notifications;
using Delivery = CTestCaptureBackend::Delivery;

const char kUnprepare[] = "Error with sound card driver (cannot un-prepare RECORD header).\n";
const char kCloseMsg[] = "Error with sound card driver (cannot close RECORD device).\n";
const char kOpenMsg[] =
    "Error with sound card driver (cannot open RECORD device).\n"
    "Please close program, reboot windows, and try again.\n"
    "If the problem persists please contact the manufacturer!\n";
constexpr uint32_t kBuf = 65536;

struct Rig {
    explicit Rig(Delivery delivery = Delivery::Manual) {
        auto owned = std::make_unique<CTestCaptureBackend>(delivery);
        backend = owned.get();
        format = MakeWaveFormat(16, 44100, 2);
        backend->SetGeneratedSource(UINT64_MAX, CTestCaptureBackend::FrameCounter(format));
        waveIn = std::make_unique<CWaveIn>(std::move(owned));
    }
    void OpenAndStart() {
        waveIn->Open(&format, &Notifications::Notify, &notes, CALLBACK_FUNCTION);
        ASSERT_EQ(waveIn->GetErrorFlag(), 0);
        waveIn->AllocateBuffers(kBuf);
        ASSERT_EQ(waveIn->GetErrorFlag(), 0);
        waveIn->Start();
        ASSERT_EQ(waveIn->GetErrorFlag(), 0);
    }
    uint32_t FirstFrame() const { return CTestCaptureBackend::FrameNumberAt(format, block, 0); }

    CTestCaptureBackend* backend;
    WAVEFORMATEX format;
    Notifications notes;
    std::unique_ptr<CWaveIn> waveIn;
    uint8_t block[kBuf];
};

TEST(WaveIn, BuffersCirculateInQueueOrderWithOneNotificationEach) {
    Rig rig;
    rig.OpenAndStart();
    EXPECT_EQ(rig.notes.open, 1);
    EXPECT_EQ(rig.notes.lastHandle, rig.waveIn->GetHandle());

    // Nothing completed yet: refused with the un-prepare text, nothing handed out.
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), 0u);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kUnprepare);
    EXPECT_FALSE(rig.waveIn->IsBufferDone());

    // Five blocks, produced in odd-sized pieces, come out whole, in order and without a gap.
    uint32_t expectFrame = 0;
    g_nAllocations = 0;
    for (int n = 1; n <= 5; ++n) {
        rig.backend->Produce(40000);
        rig.backend->Produce(kBuf - 40000);
        ASSERT_TRUE(rig.notes.WaitForData(n));
        ASSERT_TRUE(rig.waveIn->IsBufferDone());
        t_bCounting = true;
        const unsigned long got = rig.waveIn->ReadBuffer(rig.block);
        t_bCounting = false;
        ASSERT_EQ(got, kBuf);
        EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
        EXPECT_EQ(rig.FirstFrame(), expectFrame);
        EXPECT_EQ(CTestCaptureBackend::FrameNumberAt(rig.format, rig.block, kBuf / 4 - 1),
                  expectFrame + kBuf / 4 - 1);
        expectFrame += kBuf / 4;
    }
    EXPECT_EQ(g_nAllocations.load(), 0) << "ReadBuffer allocated";
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 0u);

    // Stop hands back the partly filled buffer, fewer bytes than the buffer size.
    rig.backend->Produce(1000);
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 1000u);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    EXPECT_EQ(rig.FirstFrame(), expectFrame);

    rig.waveIn->Close();
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
    EXPECT_EQ(rig.notes.close, 1);
    // Five full buffers, the one Stop returned, and the empty one Close's reset returned.
    EXPECT_EQ(rig.notes.data, 7);
}

TEST(WaveIn, SlowReaderLosesExactlyTheFramesThatFoundNoBuffer) {
    Rig rig;
    rig.OpenAndStart();
    // Two buffers fill, then three blocks' worth arrive with none queued.
    rig.backend->Produce(2 * kBuf + 3 * kBuf);
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 3u * kBuf / 4);
    ASSERT_TRUE(rig.notes.WaitForData(2));
    ASSERT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), 0u);
    ASSERT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    // The next block starts right after the lost stretch: the count is exact.
    rig.backend->Produce(kBuf);
    ASSERT_TRUE(rig.notes.WaitForData(3));
    ASSERT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), 2 * kBuf / 4 + rig.waveIn->GetLostFrames());
    rig.waveIn->Close();
}

TEST(WaveIn, EndOfInputGivesOneShortBlockAndThenNothing) {
    Rig rig(Delivery::Automatic);
    rig.backend->SetGeneratedSource(3 * kBuf + 4 * 100,
                                    CTestCaptureBackend::FrameCounter(rig.format));
    rig.OpenAndStart();
    std::vector<uint32_t> sizes;
    const auto bytes = capture_test::ReadAll(*rig.waveIn, rig.notes, kBuf, UINT64_MAX, &sizes);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{kBuf, kBuf, kBuf, 400}));
    for (size_t f = 0; f < bytes.size() / 4; f += 997) {
        ASSERT_EQ(CTestCaptureBackend::FrameNumberAt(rig.format, bytes.data(), f), f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rig.notes.Data(), 4);
    EXPECT_FALSE(rig.waveIn->IsBufferDone());
    rig.waveIn->Close();
}

TEST(WaveIn, InputEndingWhileNoBufferIsQueuedStillEndsWithAShortBlock) {
    Rig rig;
    rig.backend->SetGeneratedSource(2 * kBuf + 400, CTestCaptureBackend::FrameCounter(rig.format));
    rig.OpenAndStart();
    rig.backend->Produce(3 * kBuf);
    EXPECT_EQ(rig.waveIn->GetLostFrames(), 100u);
    ASSERT_TRUE(rig.notes.WaitForData(2));
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    ASSERT_TRUE(rig.notes.WaitForData(3));  // the buffer just queued comes back empty
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), 0u);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(rig.notes.Data(), 3);
    rig.waveIn->Close();
}

TEST(WaveIn, StalledDeviceCompletesNothingUntilResumed) {
    Rig rig(Delivery::Automatic);
    rig.backend->StallAfter(kBuf + 4 * 10);
    rig.OpenAndStart();
    ASSERT_TRUE(rig.notes.WaitForData(1));
    EXPECT_FALSE(rig.notes.WaitForData(2, 100));
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    rig.backend->Resume();
    ASSERT_TRUE(rig.notes.WaitForData(2));
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    rig.waveIn->Close();
}

struct FailureRow {
    TestOp op;
    int fromCall;
    const char* text;  // nullptr: flag stays 0
};

// Runs Open, AllocateBuffers, Start, one ReadBuffer, Stop and Close with one backend operation
// failing from its n-th call, and compares the first failing step's text.
TEST(WaveIn, EveryFailureRowGivesItsText) {
    const FailureRow rows[] = {
        {TestOp::Open, 1, kOpenMsg},
        {TestOp::Prepare, 1, "Error with sound card driver (cannot prepare RECORD header).\n"},
        {TestOp::Prepare, 2, "Error with sound card driver (cannot prepare RECORD header).\n"},
        {TestOp::AddBuffer, 1, "Error with sound card driver (cannot add RECORD buffer).\n"},
        {TestOp::Start, 1, "Error with sound card driver (cannot start RECORD device).\n"},
        {TestOp::Prepare, 3, "Error with sound card driver (cannot prepare RECORD header).\n"},
        {TestOp::AddBuffer, 3, "Error with sound card driver (cannot add RECORD buffer).\n"},
        {TestOp::Unprepare, 1, kUnprepare},
        {TestOp::Stop, 1, "Error with sound card driver (cannot stop RECORD device).\n"},
        {TestOp::Reset, 1, "Error with sound card driver (cannot reset RECORD device).\n"},
        {TestOp::Close, 1, kCloseMsg},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(std::string("op ") + std::to_string(static_cast<int>(row.op)) + " call " +
                     std::to_string(row.fromCall));
        Rig rig;
        rig.backend->FailAt(row.op, row.fromCall);
        std::string failure;
        unsigned long readResult = 1;
        auto step = [&](auto&& call) {
            if (!failure.empty()) return;
            call();
            if (rig.waveIn->GetErrorFlag()) failure = rig.waveIn->GetErrorText();
        };
        step([&] {
            rig.waveIn->Open(&rig.format, &Notifications::Notify, &rig.notes, CALLBACK_FUNCTION);
        });
        step([&] { rig.waveIn->AllocateBuffers(kBuf); });
        step([&] { rig.waveIn->Start(); });
        step([&] {
            rig.backend->Produce(kBuf);
            readResult = rig.waveIn->ReadBuffer(rig.block);
        });
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
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    ASSERT_TRUE(rig.backend->Start());  // resumes with both buffers still queued
    rig.backend->Produce(400);
    rig.backend->FailAt(TestOp::Unprepare);
    EXPECT_EQ(rig.waveIn->Stop(rig.block), 0u);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    rig.backend->ClearFailures();
    rig.waveIn->Close();
}

TEST(WaveIn, QueryFormatRefusalAndDefaultDevice) {
    Rig rig;
    rig.waveIn->QueryFormat(&rig.format);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
    rig.backend->FailAt(TestOp::QueryFormat);
    rig.waveIn->QueryFormat(&rig.format);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(),
                 "Sorry, sound card does not support this RECORD WAV format.\n");

    EXPECT_EQ(rig.waveIn->GetDeviceID(), WAVE_MAPPER);
    EXPECT_EQ(rig.waveIn->OpenFormat(32, 48000, 2), 0);
    EXPECT_EQ(rig.backend->GetOpenedDevice(), WAVE_MAPPER);
    EXPECT_EQ(rig.backend->GetOpenedFormat().wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(rig.backend->GetOpenedFormat().nBlockAlign, 8);
    rig.waveIn->Close();

    rig.waveIn->SetDeviceID(7);  // beyond the one device
    rig.waveIn->Open(&rig.format, nullptr, nullptr, 0);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kOpenMsg);
}

TEST(WaveIn, OpenFormatRules) {
    Rig rig;
    EXPECT_EQ(rig.waveIn->OpenFormat(16, 44100, 2), 0);
    void* handle = rig.waveIn->GetHandle();
    ASSERT_NE(handle, nullptr);
    const int opens = rig.backend->CallCount(TestOp::Open);
    EXPECT_EQ(rig.waveIn->OpenFormat(8, 11025, 1), -1);
    EXPECT_EQ(rig.backend->CallCount(TestOp::Open), opens);
    EXPECT_EQ(rig.waveIn->GetHandle(), handle);
    EXPECT_EQ(rig.backend->GetOpenedFormat().wBitsPerSample, 16);
    rig.waveIn->Close();

    // Unusual bits: the message, and the open is still tried, with tag 1; a device that takes
    // the layout leaves the message and the device open.
    EXPECT_EQ(rig.waveIn->OpenFormat(48, 44100, 2), 0);
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), "Not an acceptable number of bits per sample.\n");
    EXPECT_EQ(rig.backend->GetOpenedFormat().wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_NE(rig.waveIn->GetHandle(), nullptr);
    rig.waveIn->Close();
    // 12 bits make no whole-byte frame: the failing open replaces the message.
    EXPECT_EQ(rig.waveIn->OpenFormat(12, 44100, 2), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kOpenMsg);

    rig.backend->FailAt(TestOp::Open);
    EXPECT_EQ(rig.waveIn->OpenFormat(16, 44100, 2), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kOpenMsg);
    EXPECT_EQ(rig.waveIn->GetHandle(), nullptr);
}

TEST(WaveIn, CloseOnAClosedDeviceRecordsResetThenClose) {
    Rig rig;
    rig.waveIn->Close();
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 1);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kCloseMsg);
    EXPECT_EQ(rig.backend->CallCount(TestOp::Reset), 1);
    EXPECT_EQ(rig.backend->CallCount(TestOp::Close), 1);
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

    // Growing after a smaller first size must not let the device write past the blocks.
    Rig grown;
    grown.waveIn->AllocateBuffers(1024);
    grown.waveIn->Open(&grown.format, &Notifications::Notify, &grown.notes, CALLBACK_FUNCTION);
    grown.waveIn->AllocateBuffers(kBuf);
    EXPECT_EQ(grown.waveIn->GetErrorFlag(), 0);
    grown.waveIn->Start();
    grown.backend->Produce(kBuf);
    ASSERT_TRUE(grown.notes.WaitForData(1));
    EXPECT_EQ(grown.waveIn->ReadBuffer(grown.block), kBuf);
    // ... and not while the device holds them.
    grown.waveIn->AllocateBuffers(2 * kBuf);
    EXPECT_EQ(grown.waveIn->GetErrorFlag(), 1);
    EXPECT_STREQ(grown.waveIn->GetErrorText(),
                 "Not enough memory to create input data buffer.\nClose some programs and try "
                 "again.\n");
    grown.waveIn->Close();
}

TEST(WaveIn, StartWithoutBuffersFailsToPrepare) {
    Rig rig;
    rig.waveIn->Open(&rig.format, nullptr, nullptr, 0);
    rig.waveIn->Start();
    EXPECT_STREQ(rig.waveIn->GetErrorText(),
                 "Error with sound card driver (cannot prepare RECORD header).\n");
    rig.waveIn->Close();
}

// Neither may disturb the buffers the device holds: the first would rewrite queued headers,
// the second would lose the open device.
TEST(WaveIn, RestartingOrReopeningARunningDeviceIsRefused) {
    Rig rig;
    rig.OpenAndStart();
    rig.backend->Produce(kBuf);
    ASSERT_TRUE(rig.notes.WaitForData(1));
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);  // buffer 1 is now the current one
    rig.waveIn->Start();
    EXPECT_STREQ(rig.waveIn->GetErrorText(),
                 "Error with sound card driver (cannot prepare RECORD header).\n");
    rig.waveIn->Open(&rig.format, nullptr, nullptr, 0);
    EXPECT_STREQ(rig.waveIn->GetErrorText(), kOpenMsg);
    rig.backend->Produce(kBuf);
    ASSERT_TRUE(rig.notes.WaitForData(2));
    EXPECT_EQ(rig.waveIn->ReadBuffer(rig.block), kBuf);
    EXPECT_EQ(rig.FirstFrame(), kBuf / 4);
    rig.waveIn->Close();
    EXPECT_EQ(rig.waveIn->GetErrorFlag(), 0);
}

TEST(WaveIn, DestroyedWhileCapturingClosesTheDeviceFirst) {
    for (int i = 0; i < 20; ++i) {
        Rig rig(Delivery::Automatic);
        rig.OpenAndStart();
        rig.notes.WaitForData(1);
        rig.waveIn.reset();  // the backend's thread keeps filling until the device is closed
    }
}

WaveInCaps Caps(const char* name, uint16_t channels) {
    WaveInCaps caps;
    std::snprintf(caps.szPname, sizeof caps.szPname, "%s", name);
    caps.wChannels = channels;
    return caps;
}

TEST(WaveInDevice, ListIsAppendedEmptiedAndBoundsChecked) {
    CTestCaptureBackend backend;
    WaveInCaps longName = Caps("", 2);
    std::memset(longName.szPname, 'x', sizeof longName.szPname);  // no terminator
    backend.SetDevices({Caps("Line In", 2), longName, Caps("Mic", 1)});

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
    EXPECT_EQ(CWaveInDevice::GetDeviceCount(), 0);
    EXPECT_THROW(CWaveInDevice::GetDevice(0), std::out_of_range);

    backend.SetDevices({});
    EXPECT_TRUE(CWaveInDevice::EnumerateDevices(backend));
    EXPECT_EQ(CWaveInDevice::GetDeviceCount(), 0);
}

}  // namespace
