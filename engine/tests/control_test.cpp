// The recording control's own logic: Record's checks, questions and refusals, the progress
// texts and meters, the finish, and the song file naming.
#include <gtest/gtest.h>

#include "recording_fixture.h"

using namespace rectest;

namespace {

void Touch(const fs::path& p, const std::string& content = "old") {
    std::ofstream(p, std::ios::binary) << content;
}

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// OnRecord returned early: no thread, the window idle, no block buffer, device closed.
void ExpectNotStarted(Recording& r) {
    EXPECT_FALSE(r.ctl->IsRecording());
    EXPECT_TRUE(r.win.IsIdle());
    EXPECT_EQ(r.win.enabled.count(IDC_STOP), 0u);
    EXPECT_FALSE(r.ctl->HasBlockBuffer());
    EXPECT_EQ(r.ctl->GetWaveIn().GetHandle(), nullptr);
}

const std::string kQuestion =
    "The file, %s, exists.\nIf you will be recording %d song(s),\nthis file and possibly any "
    "sequentially \nnumbered files will be overwritten.\n\nDo you want to overwrite the "
    "file(s)?";

std::string Question(const std::string& file, int songs) {
    std::string q = kQuestion;
    q.replace(q.find("%s"), 2, file);
    q.replace(q.find("%d"), 2, std::to_string(songs));
    return q;
}

}  // namespace

TEST(ControlRecord, WithoutABaseFileAsksForOneAndDoesNothingElse) {
    for (int missing = 0; missing < 2; ++missing) {
        Recording r;
        r.plan = {{1000, true}};
        r.UseFile({});
        if (missing == 0)
            r.ctl->GetWriter().SetFileName("");
        else
            r.win.bHasSelection = false;
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text, "You need to enter a Base File Name.");
        EXPECT_EQ(r.win.boxes[0].title, "Missing Destination");
        EXPECT_EQ(r.win.boxes[0].icon, MsgIcon::Warning);
        EXPECT_EQ(r.win.nNewCalls, 1);
        EXPECT_EQ(r.win.log, (std::vector<std::string>{"box:Missing Destination", "new"}));
        ExpectNotStarted(r);
        EXPECT_TRUE(r.Files().empty());
    }
}

TEST(ControlRecord, OverwriteQuestionNamesTheLowestExistingFile) {
    struct Case {
        std::vector<int> existing;
        int asked;
    };
    // Files 1 and 3: about file 1. Only file 10: about file 10 too, so that no numbered file
    // is ever overwritten without the question. SideA01.wav is not a song file name.
    for (const Case& c : {Case{{3, 1}, 1}, Case{{10}, 10}, Case{{12, 11}, 11}}) {
        Recording r;
        r.plan = {{1000, true}};
        r.UseFile({});
        Touch(r.dir / "SideA01.wav");
        Touch(r.dir / "SideAx.wav");
        for (int k : c.existing) Touch(r.dir / ("SideA" + std::to_string(k) + ".wav"));
        r.win.answers = {MsgAnswer::No};
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        const std::string file = (r.dir / ("SideA" + std::to_string(c.asked) + ".wav")).string();
        EXPECT_EQ(r.win.boxes[0].text, Question(file, c.asked));
        EXPECT_EQ(r.win.boxes[0].title, "File Exists");
        EXPECT_EQ(r.win.boxes[0].icon, MsgIcon::Question);
        EXPECT_EQ(r.win.boxes[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(r.win.log, (std::vector<std::string>{"box:File Exists", "wait:750"}));
        // No: nothing created or touched.
        ExpectNotStarted(r);
        for (int k : c.existing) {
            EXPECT_EQ(Slurp(r.dir / ("SideA" + std::to_string(k) + ".wav")), "old");
        }
        EXPECT_EQ(fs::exists(r.dir / "SideA1.wav"), c.asked == 1);
    }
}

TEST(ControlRecord, NoQuestionWithoutNumberedFilesAndYesOverwrites) {
    Recording r;
    r.plan = {{20000, true}};
    r.UseFile({});
    Touch(r.dir / "SideA.wav");
    ASSERT_TRUE(r.Run());
    EXPECT_TRUE(r.win.boxes.empty());

    // A second recording over the first asks, waits 750 ms after the answer, and on Yes
    // overwrites.
    r.win.log.clear();
    ASSERT_TRUE(r.Run());
    ASSERT_EQ(r.win.boxes.size(), 1u);
    EXPECT_EQ(r.win.log.at(0), "box:File Exists");
    EXPECT_EQ(r.win.log.at(1), "wait:750");
    EXPECT_TRUE(r.Joined() == r.input);
    EXPECT_EQ(Slurp(r.dir / "SideA.wav"), "old");
}

TEST(ControlRecord, RefusedFormatShowsTheSettingsTextOrTheDevicesOwn) {
    // The file backend accepts exactly the input's format (44.1 kHz 16-bit stereo here).
    struct Case {
        uint32_t rate;
        uint16_t bits;
        std::string text;
    };
    const Case cases[] = {
        {48000, 32,
         "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease change one or "
         "both of these features in the \nCustomize settings window.\n"},
        {48000, 16,
         "Your sound card does not support 48 kHz recording.\nPlease change this feature in the "
         "Customize settings window.\n"},
        {44100, 32,
         "Your sound card does not support 24 bit recording.\nPlease change this feature in the "
         "Customize settings window.\n"},
        {22050, 16, "Sorry, sound card does not support this RECORD WAV format.\n"},
    };
    for (const Case& c : cases) {
        Recording r;
        r.format = {16, 44100, 2};
        r.plan = {{1000, true}};
        r.UseFile({});
        r.ctl->m_settings.nSamplesPerSec = c.rate;
        r.ctl->m_settings.wBitsPerSample = c.bits;
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text, c.text);
        EXPECT_EQ(r.win.boxes[0].title, "ERROR");
        EXPECT_EQ(r.win.boxes[0].icon, MsgIcon::Stop);
        EXPECT_EQ(r.win.nFocus, IDC_BASEFILE);
        ExpectNotStarted(r);
        EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
    }
}

TEST(ControlRecord, DeviceFailuresShowTheDevicesTextAndLeaveEverythingClosed) {
    struct Case {
        TestOp op;
        std::string text;
        bool focusBase;
    };
    const Case cases[] = {
        {TestOp::Open,
         "Error with sound card driver (cannot open RECORD device).\nPlease close program, "
         "reboot windows, and try again.\nIf the problem persists please contact the "
         "manufacturer!\n",
         true},
        {TestOp::Prepare, "Error with sound card driver (cannot prepare RECORD header).\n", false},
        {TestOp::AddBuffer, "Error with sound card driver (cannot add RECORD buffer).\n", false},
        {TestOp::Start, "Error with sound card driver (cannot start RECORD device).\n", false},
    };
    for (const Case& c : cases) {
        Recording r;
        r.plan = {{1000, true}};
        r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
        r.pTest->FailAt(c.op);
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text, c.text);
        EXPECT_EQ(r.win.boxes[0].title, "ERROR");
        EXPECT_EQ(r.win.nFocus == IDC_BASEFILE, c.focusBase);
        ExpectNotStarted(r);
        EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
        EXPECT_FALSE(r.pTest->IsOpen());
    }
}

TEST(ControlRecord, WriterAndMemoryFailuresStopBeforeAnythingStarts) {
    {
        Recording r;
        r.plan = {{1000, true}};
        r.UseFile({});
        r.win.strBasePath = (r.dir / "missing" / "SideA.wav").string();
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text, "Cannot create output file " +
                                           (r.dir / "missing" / "SideA1.wav").string() +
                                           ".\nProbably in use by another program!\n");
        EXPECT_EQ(r.win.nFocus, IDC_BASEFILE);
        ExpectNotStarted(r);
    }
    {
        Recording r;
        r.plan = {{1000, true}};
        r.UseFile({});
        r.ctl->m_nBufferSize = 1L << 46;  // no machine here has that much
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text,
                  "Not enough memory to create the recording buffer.\nClose some programs and "
                  "try again.\n");
        EXPECT_EQ(r.win.boxes[0].title, "ERROR");
        ExpectNotStarted(r);
        EXPECT_TRUE(r.Files().empty());
    }
    {
        // A name that could not hold its song numbers within a path field.
        Recording r;
        r.plan = {{1000, true}};
        r.UseFile({});
        r.win.strBasePath = (r.dir / (std::string(250, 'x') + ".wav")).string();
        r.ctl->OnRecord();
        ASSERT_EQ(r.win.boxes.size(), 1u);
        EXPECT_EQ(r.win.boxes[0].text, "The file name is too long:\n" + r.win.strBasePath + "\n");
        ExpectNotStarted(r);
    }
}

TEST(ControlNaming, TheNumberGoesBeforeTheExtensionOfTheFileName) {
    struct Case {
        const char* base;
        const char* first;
        const char* second;
        const char* tenth;
    };
    const Case cases[] = {
        {"SideA.wav", "SideA1.wav", "SideA2.wav", "SideA10.wav"},
        {"/t/Tapes/SideA.wav", "/t/Tapes/SideA1.wav", "/t/Tapes/SideA2.wav",
         "/t/Tapes/SideA10.wav"},
        {"/t/a.b/SideA", "/t/a.b/SideA1", "/t/a.b/SideA2", "/t/a.b/SideA10"},
        {"/t/my.side.a.wav", "/t/my.side.a1.wav", "/t/my.side.a2.wav", "/t/my.side.a10.wav"},
        {".wav", "1.wav", "2.wav", "10.wav"},
        {"/t/.wav", "/t/1.wav", "/t/2.wav", "/t/10.wav"},
    };
    for (const Case& c : cases) {
        const std::string base = c.base;
        const size_t p = SongNumberPosition(base.c_str());
        const std::string first = base.substr(0, p) + "1" + base.substr(p);
        EXPECT_EQ(first, c.first);
        char prefix[kPathSize];
        char suffix[kPathSize];
        CutSongName(first.c_str(), prefix, suffix);
        char name[kPathSize];
        ASSERT_TRUE(MakeSongName(name, prefix, 2, suffix));
        EXPECT_STREQ(name, c.second);
        ASSERT_TRUE(MakeSongName(name, prefix, 10, suffix));
        EXPECT_STREQ(name, c.tenth);
    }
    char name[kPathSize];
    EXPECT_FALSE(MakeSongName(name, std::string(255, 'x').c_str(), 1000, ".wav"));
}

TEST(ControlProgress, TimesCountersAndTexts) {
    CTestWindow win;
    CRecordingControl ctl(&win, std::make_unique<CTestCaptureBackend>());
    win.pControl = &ctl;
    CSignalAnalyzer& a = ctl.GetAnalyzer();
    a.m_nClipCount[0] = 2;
    a.m_nClipCount[1] = 3;
    // 44,100 per second, 16-bit stereo: 10,584,000 bytes a minute.
    ctl.OnRecordingProgress(10760400, 0);
    EXPECT_EQ(win.texts[IDC_SONGTIME], "Song Time  01:01");
    EXPECT_EQ(win.texts[IDC_TOTALTIME], "Total Time  01:01");
    EXPECT_EQ(win.texts[IDC_CLIPPED], "Clipped Pts: 5");
    EXPECT_EQ(win.texts[IDC_CURFILE], "Cur File: ");
    // The song time restarts with the message whose newFile is 1, counting that whole block.
    a.m_nClipCount[0] = 0;
    ctl.OnRecordingProgress(176400 * 5, 1);
    EXPECT_EQ(win.texts[IDC_SONGTIME], "Song Time  00:05");
    EXPECT_EQ(win.texts[IDC_TOTALTIME], "Total Time  01:06");
    EXPECT_EQ(win.texts[IDC_CLIPPED], "Clipped Pts: 8");
    EXPECT_EQ(win.pictures, (std::vector<bool>{true, false}));
    EXPECT_TRUE(win.caption.empty());

    win.bMinimized = true;
    ctl.OnRecordingProgress(0, 0);
    EXPECT_EQ(win.caption, ": Zelk Vellisto");
}

TEST(ControlProgress, FloatRecordingsPastTwoHoursShowTheRightTime) {
    CTestWindow win;
    CRecordingControl ctl(&win, std::make_unique<CTestCaptureBackend>());
    ctl.m_settings.wBitsPerSample = 32;  // 352,800 bytes a second: 2^31 bytes in 101 minutes
    for (int minute = 0; minute < 125; ++minute) ctl.OnRecordingProgress(352800L * 60, 0);
    ctl.OnRecordingProgress(352800L * 30, 1);
    EXPECT_EQ(ctl.GetTotalBytes(), 352800LL * (125 * 60 + 30));
    EXPECT_EQ(win.texts[IDC_TOTALTIME], "Total Time  125:30");
    EXPECT_EQ(win.texts[IDC_SONGTIME], "Song Time  00:30");
}

TEST(ControlProgress, MetersTakeTheLoudestUntilTheMeterThreadHasReadThem) {
    CTestWindow win;
    CRecordingControl ctl(&win, std::make_unique<CTestCaptureBackend>());
    SetMeterLevelSource(&ctl);
    int power = 0;
    int peak = 0;
    int clips = 0;
    GetMeterLevels(1, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);
    EXPECT_EQ(power, -100);

    CSignalAnalyzer& a = ctl.GetAnalyzer();
    auto block = [&](float peakValue, float powerValue, int clipCount) {
        for (int ch = 0; ch < 2; ++ch) {
            a.m_fPeak[ch] = peakValue;
            a.m_fPower[ch] = powerValue;
            a.m_nClipCount[ch] = clipCount;
        }
        ctl.OnRecordingProgress(0, 0);
    };
    block(0.5f, 0.02f, 4);     // -6.02 dB peak, -16.99 dB power: truncated toward zero
    block(0.25f, 0.0002f, 1);  // quieter, but the meters have not taken the first yet
    GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -6);
    EXPECT_EQ(power, -16);
    EXPECT_EQ(clips, 1);
    block(0.25f, 0.0002f, 0);  // taken: now the new values replace the old
    GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -12);
    EXPECT_EQ(power, -36);
    // The right channel was taken before the first block: every block replaced its values.
    GetMeterLevels(7, &power, &peak, &clips);
    EXPECT_EQ(peak, -12);
    EXPECT_EQ(power, -36);
    SetMeterLevelSource(nullptr);
    GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);
}

TEST(ControlFinish, SecondDoneDoesNothingAndTheFinishRestoresTheWindow) {
    Recording r;
    r.plan = {{30000, true}, {20000, false}};
    r.UseFile({});
    r.win.bMinimized = true;
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.win.caption, "DONE: Zelk Vellisto");
    EXPECT_TRUE(r.win.IsIdle());
    EXPECT_EQ(r.win.pictures.back(), false);
    int power = 0;
    int peak = 0;
    int clips = 0;
    r.ctl->GetMeterLevels(0, &power, &peak, &clips);
    EXPECT_EQ(peak, -100);

    const auto log = r.win.log;
    const auto boxes = r.win.boxes.size();
    const auto files = r.Files();
    EXPECT_EQ(r.ctl->OnRecordingDone(), 1);
    EXPECT_EQ(r.win.log, log);
    EXPECT_EQ(r.win.boxes.size(), boxes);
    EXPECT_EQ(r.Files(), files);
}

TEST(ControlFinish, ExitDuringARecordingStopsAndFinishesDirectly) {
    // The exit path calls OnStop and then OnRecordingDone itself; the thread's own done
    // message, handled later, does nothing.
    Recording r;
    r.plan = {{48000 * 10, true}};
    r.format = {32, 48000, 2};
    r.UseFile({}, FilePacing::RealTime);
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    r.ctl->OnStop();
    r.ctl->OnRecordingDone();
    EXPECT_FALSE(r.ctl->IsRecording());
    EXPECT_TRUE(r.win.IsIdle());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
    ASSERT_EQ(r.Files().size(), 1u);
    const auto song = ReadSongData(r.Files()[0], r.format);
    EXPECT_TRUE(song == r.Slice(0, static_cast<long>(song.size())));
    const auto boxes = r.win.boxes.size();
    ASSERT_TRUE(r.win.PumpUntilDone(std::chrono::seconds(10)));
    EXPECT_EQ(r.win.boxes.size(), boxes);
    EXPECT_TRUE(r.win.IsIdle());
}

TEST(ControlFinish, AFailedDeleteOfTheShortLastFileIsReported) {
    Recording r;
    // Gap Size close to End Gap: the last file spans at most two blocks, less than End Gap.
    r.plan = {{40000, true}, {60000, false}};
    r.UseFile({.fGapSize = 2.0, .fMinSong = 2.0, .fEndGap = 3.0});
    const Prediction p = Predict(r.format, r.plan, r.ctl->GetAnalyzer());
    ASSERT_EQ(p.cuts.size(), 1u);
    ASSERT_TRUE(r.ctl->GetAnalyzer().IsShortFile(2 * kBlock));
    // Before the finish, something the finish cannot delete takes the last file's place.
    r.win.onDone = [&] {
        const fs::path last = r.dir / "SideA2.wav";
        fs::rename(last, r.dir / "moved.wav");
        fs::create_directories(last / "inside");
    };
    ASSERT_TRUE(r.Run());
    ASSERT_EQ(r.win.boxes.size(), 1u);
    EXPECT_EQ(r.win.boxes[0].title, "ERROR");
    EXPECT_EQ(
        r.win.boxes[0].text.rfind(
            "Cannot delete the short last song file " + (r.dir / "SideA2.wav").string() + ".\n", 0),
        0u)
        << r.win.boxes[0].text;
    // The finish still completes: idle, buffer freed.
    EXPECT_TRUE(r.win.IsIdle());
    EXPECT_FALSE(r.ctl->HasBlockBuffer());
    EXPECT_EQ(r.win.nFocus, IDC_RECORD);
}
