// The recording control's own logic: Record's checks and refusals as values, the overwrite
// check, the progress counters and meters, the finish, and the song file naming.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/tests/RecordingFixture.h"

using namespace rectest;
using Delivery = CTestCaptureBackend::Delivery;

namespace {

void Touch(const fs::path& p) { WriteFile(p, {'o', 'l', 'd'}); }
bool Untouched(const fs::path& p) { return ReadFile(p) == std::vector<char>{'o', 'l', 'd'}; }

// Record refused: no thread, no block buffer, device and file closed.
void ExpectNotStarted(Recording& r) {
    EXPECT_FALSE(r.ctl->IsRecording());
    EXPECT_FALSE(r.ctl->HasBlockBuffer());
    EXPECT_EQ(r.ctl->GetWaveIn().GetHandle(), nullptr);
    EXPECT_FALSE(r.pTest && r.pTest->IsOpen());
    EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
}

}  // namespace

TEST(ControlRecord, EveryRefusalIsAValueAndLeavesNothingBehind) {
    const std::string driver = "Error with sound card driver (cannot ";
    auto format = [](uint32_t rate, uint16_t bits) {
        return [=](Recording& r) {
            r.ctl->m_settings.nSamplesPerSec = rate;
            r.ctl->m_settings.wBitsPerSample = bits;
        };
    };
    auto fail = [](TestOp op) { return [=](Recording& r) { r.pTest->FailAt(op); }; };
    const struct {
        const char* name;
        bool scripted;  // the test backend, else the file backend (44.1 kHz 16-bit stereo)
        std::function<void(Recording&)> setup;
        StartRefusal refusal;
        std::string detail{};  // the device's or the writer's own message
        uint32_t rate = 0;
        uint16_t bits = 0;
    } cases[] = {
        {"no name", false, [](Recording& r) { r.ctl->GetWriter().SetFileName(""); },
         StartRefusal::NoBaseName},
        {"no selection", false, [](Recording& r) { r.win.request.bHasBaseFile = false; },
         StartRefusal::NoBaseName},
        {"48 float", false, format(48000, 32), StartRefusal::DeviceFormat,
         "Sorry, sound card does not support this RECORD WAV format.\n", 48000, 32},
        {"open", true, fail(TestOp::Open), StartRefusal::DeviceOpen,
         driver +
             "open RECORD device).\nPlease close program, restart the computer, and try again.\n"
             "If the problem persists please contact the manufacturer!\n"},
        // The device prepares and queues its buffers as it starts.
        {"prepare", true, fail(TestOp::Prepare), StartRefusal::DeviceStart,
         driver + "prepare RECORD header).\n"},
        {"add", true, fail(TestOp::AddBuffer), StartRefusal::DeviceStart,
         driver + "add RECORD buffer).\n"},
        {"start", true, fail(TestOp::Start), StartRefusal::DeviceStart,
         driver + "start RECORD device).\n"},
        {"no folder", false,
         [](Recording& r) { r.win.request.strPath = (r.dir / "missing" / "SideA.wav").string(); },
         StartRefusal::FileNotCreatable},
        {"memory", false, [](Recording& r) { r.ctl->m_nBufferSize = 1L << 46; },
         StartRefusal::NoMemory},
        // A name that could not hold its song numbers within a path field.
        {"long name", false,
         [](Recording& r) { r.win.request.strPath = (r.dir / (std::string(250, 'x') + ".wav")); },
         StartRefusal::NameTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recording r({{1000, true}});
        c.scripted ? r.UseTest({}, CTestCaptureBackend::Delivery::Automatic) : r.UseFile({});
        c.setup(r);
        // What New offers next: the base file, never the song file a refusal tried to make.
        const std::string baseName = r.ctl->GetWriter().GetFileName();
        EXPECT_FALSE(r.win.Record());
        EXPECT_EQ(r.ctl->GetWriter().GetFileName(), baseName);
        const StartOutcome& out = r.win.start;
        EXPECT_EQ(out.refusal, c.refusal);
        if (c.refusal == StartRefusal::FileNotCreatable) {
            const std::string file = (r.dir / "missing" / "SideA1.wav").string();
            EXPECT_EQ(out.strPath, file);
            EXPECT_EQ(out.strDetail,
                      "Cannot create output file " + file + ".\nNo such file or directory.\n");
        } else if (c.refusal == StartRefusal::NameTooLong) {
            EXPECT_EQ(out.strPath, r.win.request.strPath);
        } else {
            EXPECT_EQ(out.strDetail, c.detail);
        }
        EXPECT_EQ(out.nRate, c.rate);
        EXPECT_EQ(out.nBits, c.bits);
        ExpectNotStarted(r);
        EXPECT_TRUE(r.Files().empty());  // every check comes before the first song file
    }
}

// After "Yes" to the overwrite question, a device that refuses at any step, or "No", leaves the
// previous take's files byte for byte and creates none.
TEST(ControlRecord, ARefusedRecordLeavesThePreviousTakeAlone) {
    const TestOp refusals[] = {TestOp::QueryFormat, TestOp::Open, TestOp::Prepare, TestOp::Start};
    for (int step = 0; step <= 4; ++step) {
        SCOPED_TRACE(step);
        Recording r({{1000, true}});
        r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
        Touch(r.dir / "SideA1.wav");
        Touch(r.dir / "SideA2.wav");
        step < 4 ? r.pTest->FailAt(refusals[step]) : void(r.win.bOverwrite = false);
        EXPECT_FALSE(r.win.Record());
        EXPECT_EQ(r.win.asked.numbers, (std::vector<long>{1, 2}));
        EXPECT_EQ(r.win.start.refusal == StartRefusal::Declined, step == 4);
        ExpectNotStarted(r);
        EXPECT_TRUE(Untouched(r.dir / "SideA1.wav") && Untouched(r.dir / "SideA2.wav"));
        EXPECT_EQ(r.Files().size(), 2u);
    }
}

TEST(ControlRecord, OverwriteQuestionNamesTheLowestExistingFile) {
    // Files 1 and 3: about file 1. Only file 10: about file 10 too, so that no numbered file
    // is ever overwritten without the question. SideA01.wav is not a song file name.
    const std::pair<std::vector<int>, int> cases[] = {{{3, 1}, 1}, {{10}, 10}, {{12, 11}, 11}};
    for (const auto& [existing, asked] : cases) {
        SCOPED_TRACE(asked);
        Recording r({{1000, true}});
        r.UseFile({});
        Touch(r.dir / "SideA01.wav");
        Touch(r.dir / "SideAx.wav");
        for (int k : existing) Touch(r.dir / ("SideA" + std::to_string(k) + ".wav"));
        r.win.bOverwrite = false;
        EXPECT_FALSE(r.win.Record());
        const std::string file = (r.dir / ("SideA" + std::to_string(asked) + ".wav")).string();
        EXPECT_EQ(r.win.asked.nLowest, asked);
        EXPECT_EQ(r.win.asked.strLowest, file);
        std::vector<long> sorted(existing.begin(), existing.end());
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(r.win.asked.numbers, sorted);
        // No: nothing created or touched.
        ExpectNotStarted(r);
        for (int k : existing)
            EXPECT_TRUE(Untouched(r.dir / ("SideA" + std::to_string(k) + ".wav")));
        EXPECT_EQ(fs::exists(r.dir / "SideA1.wav"), asked == 1);
    }

    // The base file itself is no song file: no question; a second recording over the first asks
    // and on Yes overwrites.
    Recording r({{20000, true}});
    r.UseFile({});
    Touch(r.dir / "SideA.wav");
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.win.asked.nLowest, 0);
    ASSERT_TRUE(r.win.Record());
    ASSERT_TRUE(r.win.PumpUntilDone());
    EXPECT_EQ(r.win.asked.nLowest, 1);
    EXPECT_TRUE(r.Joined() == r.input);
    EXPECT_TRUE(Untouched(r.dir / "SideA.wav"));
}

TEST(ControlNaming, TheNumberGoesBeforeTheExtensionOfTheFileName) {
    const char* cases[][3] = {{"SideA.wav", "SideA1.wav", "SideA10.wav"},
                              {"/t/Tapes/SideA.wav", "/t/Tapes/SideA1.wav", "/t/Tapes/SideA10.wav"},
                              {"/t/a.b/SideA", "/t/a.b/SideA1", "/t/a.b/SideA10"},
                              {"/t/my.side.a.wav", "/t/my.side.a1.wav", "/t/my.side.a10.wav"},
                              {".wav", "1.wav", "10.wav"},
                              {"/t/.wav", "/t/1.wav", "/t/10.wav"}};
    char name[kPathSize];
    for (const auto& c : cases) {
        const CSongFileName base(c[0]);
        EXPECT_EQ(base.Name(1), c[1]);
        // The recording thread's allocation-free form gives the same names.
        ASSERT_TRUE(base.NameInto(name, sizeof name, 10));
        EXPECT_STREQ(name, c[2]);
        // A name found on disk is recognised with or without its folder.
        EXPECT_EQ(base.NumberOf(c[2]), 10);
        EXPECT_EQ(base.NumberOf(FileNamePart(c[2])), 10);
    }
    const CSongFileName side("/t/SideA.wav");
    for (const char* other : {"/t/SideA.wav", "/t/SideA01.wav", "/t/SideAx.wav", "/t/SideA1.flac",
                              "/u/SideA1.wav", "SideA1234567890.wav"}) {
        EXPECT_EQ(side.NumberOf(other), 0) << other;
    }
    EXPECT_FALSE(CSongFileName(std::string(255, 'x') + ".wav").NameInto(name, sizeof name, 1000));
}

TEST(ControlProgress, MetersTakeTheLoudestUntilTheMeterThreadHasReadThem) {
    CMeterLevels levels;
    int power = 0, peak = 0, clips = 0;
    auto block = [&](float p, float w, int32_t c) {
        const float peaks[2] = {p, p}, powers[2] = {w, w};
        const int32_t clipped[2] = {c, c};
        levels.Deposit(peaks, powers, clipped);
    };
    auto expectLevels = [&](int channel, int wantPeak, int wantPower) {
        levels.Read(channel, &power, &peak, &clips);
        EXPECT_EQ(peak, wantPeak);
        EXPECT_EQ(power, wantPower);
    };
    expectLevels(1, -100, -100);
    block(0.5f, 0.02f, 4);     // -6.02 dB peak, -16.99 dB power: truncated toward zero
    block(0.25f, 0.0002f, 1);  // quieter, but the meters have not taken the first yet
    expectLevels(0, -6, -16);
    EXPECT_EQ(clips, 1);
    block(0.25f, 0.0002f, 0);  // taken: now the new values replace the old
    expectLevels(0, -12, -36);
    // The right channel was taken before the first block: every block replaced its values.
    expectLevels(7, -12, -36);
    // Float input holding NaN or infinities: the floor (-240 dB, -120 dB for the power's
    // root) and a bounded value, never an undefined conversion.
    block(std::nanf(""), std::nanf(""), 0);
    expectLevels(0, -240, -120);
    block(INFINITY, INFINITY, 0);
    expectLevels(0, 1000, 1000);
    levels.Clear();
    expectLevels(0, -100, -100);
}

// The owner's thread handles no message (a modal box is up): each block's levels still reach
// the meters, from the recording thread itself.
TEST(ControlProgress, MetersFollowTheBlocksWhileTheOwnerHandlesNoMessage) {
    Recording r({{8 * kFrames16, true}});
    r.UseTest({}, Delivery::Manual);
    std::mutex mutex;
    std::condition_variable posted;
    int reports = 0;
    r.win.onPostInRecordingThread = [&] {
        std::lock_guard<std::mutex> guard(mutex);
        ++reports;
        posted.notify_all();
    };
    SetMeterLevelSource(r.ctl.get());
    ASSERT_TRUE(r.Start());
    int power = 0, peak = 0, clips = 0;
    for (int block = 1; block <= 2; ++block) {
        r.pTest->Produce(kBlock);
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(
            posted.wait_for(lock, std::chrono::seconds(60), [&] { return reports >= block; }));
        lock.unlock();
        // Both channels of the loud stretch reach 1000 of 32768 (-30 dBFS).
        GetMeterLevels(block % 2, &power, &peak, &clips);
        EXPECT_GE(peak, -30) << block;
        EXPECT_GT(power, -100) << block;
    }
    EXPECT_TRUE(r.win.progress.empty());
    r.ctl->OnStop();
    ASSERT_TRUE(r.win.PumpUntilDone());
    GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);
    SetMeterLevelSource(nullptr);
}

// The window clears the meters' source and then destroys the control while the meter thread
// may be reading it: once cleared (or destroyed) the control is no longer read. The sanitizer
// builds see a read of a destroyed control.
TEST(ControlProgress, MeterReadsNeverOutliveTheControl) {
    std::atomic<bool> done{false};
    std::thread meter([&] {
        int power = 0, peak = 0, clips = 0;
        while (!done.load()) {
            GetMeterLevels(0, &power, &peak, &clips);
        }
    });
    CTestFront win;
    for (int i = 0; i < 20000; ++i) {
        auto ctl =
            std::make_unique<CRecordingControl>(&win, std::make_unique<CTestCaptureBackend>());
        SetMeterLevelSource(ctl.get());
        if (i % 2 == 0) SetMeterLevelSource(nullptr);  // else the destructor clears it
        ctl.reset();
    }
    done.store(true);
    meter.join();
    int power = 0, peak = 0, clips = 0;
    GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);
}

TEST(ControlFinish, ExitDuringARecordingStopsAndFinishesDirectly) {
    // The exit path calls OnStop and then Finish itself; the thread's own done message, handled
    // later, finds nothing to finish. The finish clears the meters.
    Recording r({{48000 * 10, true}}, {32, 48000, 2});
    r.UseFile({}, FilePacing::RealTime);
    ASSERT_TRUE(r.Start());
    r.ctl->OnStop();
    r.win.Finish();
    EXPECT_TRUE(r.win.report.bValid);
    EXPECT_TRUE(r.win.report.bStopPressed);
    EXPECT_FALSE(r.ctl->IsRecording());
    int power = 0, peak = 0, clips = 0;
    r.ctl->GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
    ASSERT_EQ(r.Files().size(), 1u);
    EXPECT_TRUE(r.JoinedIsPrefix());
    ASSERT_TRUE(r.win.PumpUntilDone());
    EXPECT_FALSE(r.win.report.bValid);
    EXPECT_EQ(r.Files().size(), 1u);
}

TEST(ControlFinish, AFailedDeleteOfTheShortLastFileIsReported) {
    // Gap Size close to End Gap: the last file spans at most two blocks, less than End Gap.
    Recording r({{40000, true}, {60000, false}});
    r.UseFile({.fGapSize = 2.0, .fMinSong = 2.0, .fEndGap = 3.0});
    ASSERT_EQ(r.Predicted().cuts.size(), 1u);
    ASSERT_TRUE(r.ctl->GetAnalyzer().IsShortFile(2 * kBlock));
    // Before the finish, something the finish cannot delete takes the last file's place.
    const fs::path last = r.dir / "SideA2.wav";
    r.win.onDone = [&] {
        fs::rename(last, r.dir / "moved.wav");
        fs::create_directories(last / "inside");
    };
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.win.report.strRemoveFailedPath, last.string());
    EXPECT_FALSE(r.win.report.strRemoveFailedReason.empty());
    ASSERT_EQ(r.win.report.files.size(), 2u);
    EXPECT_FALSE(r.win.report.files[1].bRemoved);
    EXPECT_EQ(r.win.messages.size(), 1u);
    // The finish still completes: buffer freed.
    EXPECT_FALSE(r.ctl->HasBlockBuffer());
}

// A format the analyser would misread is refused by name before the overwrite question and any
// file (which field is refused is the settings' own test). Without any
// capture device the device check says so instead of blaming the format.
TEST(ControlRecord, UnsupportedFormatsAndAMissingDeviceAreRefusedByName) {
    const std::string noDevice = "No recording device was found.\nPlease check that a sound card";
    const struct {
        uint32_t rate;
        uint16_t bits, channels;
        bool devices;
        StartRefusal refusal;
        RecSetting setting;
        std::string text;  // the refusal's text begins so
    } cases[] = {
        {44100, 24, 2, true, StartRefusal::FormatUnsupported, RecSetting::BitsPerSample,
         "Cannot record with 24 bits per sample.\n"},
        {44100, 16, 2, false, StartRefusal::NoDevice, {}, noDevice},
        {48000, 32, 2, false, StartRefusal::NoDevice, {}, noDevice},  // not "does not support..."
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Recording r({{1000, true}});
        r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
        if (!c.devices) r.pTest->SetDevices({});
        Touch(r.dir / "SideA1.wav");
        RecSettings settings;
        settings.nSamplesPerSec = c.rate;
        settings.wBitsPerSample = c.bits;
        settings.wChannels = c.channels;
        r.ctl->SetSettings(settings);
        EXPECT_FALSE(r.win.Record());
        EXPECT_EQ(r.win.start.refusal, c.refusal);
        if (c.refusal == StartRefusal::FormatUnsupported) {
            EXPECT_EQ(r.win.start.setting, c.setting);
            // Refused before the question.
            EXPECT_EQ(r.win.asked.nLowest, 0);
        }
        EXPECT_THAT(recording_texts::RefusalText(r.win.start), StartsWith(c.text));
        ExpectNotStarted(r);
        EXPECT_TRUE(Untouched(r.dir / "SideA1.wav"));
    }
}
