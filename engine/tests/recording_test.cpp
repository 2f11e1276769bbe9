// Whole recordings through the control, the recording thread and a capture backend: the song
// files must hold the input byte for byte, cut where the gap rule says.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "recording_fixture.h"

using namespace rectest;

namespace {

constexpr long kFrames16 = 16384;  // stereo 16-bit frames per block

// Each file holds its stretch of the input, the last one up to the end of the block in which
// End Gap was reached, or to the end of the input; after End Gap a trailing file shorter than
// End Gap is gone. The finish measures that file in whole blocks from the block of its split.
void ExpectSongsMatch(const Recording& r, const Prediction& p) {
    std::vector<long> bounds{0};
    bounds.insert(bounds.end(), p.cuts.begin(), p.cuts.end());
    const long total = long(r.input.size());
    const long end = p.nEndByte < 0 ? total : std::min(total, (p.nEndByte / kBlock + 1) * kBlock);
    bounds.push_back(end);
    const long lastSongBytes = end - (p.cuts.empty() ? 0 : p.cuts.back() / kBlock * kBlock);
    const bool lastDeleted = p.nEndByte >= 0 && r.ctl->GetAnalyzer().IsShortFile(lastSongBytes);
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), bounds.size() - 1 - (lastDeleted ? 1 : 0));
    for (size_t k = 0; k < songs.size(); ++k) {
        EXPECT_TRUE(songs[k] == r.Slice(bounds[k], bounds[k + 1]))
            << "song " << k + 1 << ": " << songs[k].size() << " bytes, expected "
            << bounds[k + 1] - bounds[k];
    }
    EXPECT_EQ(r.ctl->GetLastEnd(),
              p.nEndByte >= 0 ? RecordingEnd::EndGap : RecordingEnd::ShortBlock);
}

long NewFileMessages(const CTestWindow& w) {
    long n = 0;
    for (const auto& m : w.progress) n += m.nNewFiles;
    return n;
}

}  // namespace

TEST(Recording, SplitsWhereTheGapRuleSaysAndNumbersRunPastNine) {
    Recording r;
    for (int k = 0; k < 11; ++k) {
        r.plan.push_back({20000 + 997 * k, true});
        r.plan.push_back({2500 + 500 * (k % 3), false});
    }
    r.plan.push_back({20000, false});
    r.UseFile({});
    const Prediction p = r.Predicted();
    ASSERT_EQ(p.cuts.size(), 11u);
    ASSERT_GE(p.nEndByte, 0);
    ASSERT_TRUE(r.Run());
    ExpectSongsMatch(r, p);
    EXPECT_EQ(NewFileMessages(r.win), 11);
    EXPECT_TRUE(fs::exists(r.dir / "SideA11.wav"));
    EXPECT_FALSE(fs::exists(r.dir / "SideA010.wav"));
    EXPECT_TRUE(r.win.boxes.empty()) << r.win.boxes[0].text;
    EXPECT_TRUE(r.win.IsIdle());
    EXPECT_FALSE(r.ctl->HasBlockBuffer());
    EXPECT_EQ(r.win.nFocus, IDC_RECORD);
    EXPECT_EQ(r.win.texts[IDC_CURFILE], "Cur File: SideA12.wav");
}

TEST(Recording, SplitAtBlockStartLeavesTheOldFileAtTheBlockBoundary) {
    Recording r;
    CSignalAnalyzer a;
    ConfigureAnalyzer(a, r.format, {});
    // Silence after loud frame F - 1 reaches Gap Size at frame (2F - 1 + G) / 2: put that at
    // the start of block 3.
    long loud = 3 * kFrames16 - a.m_nGapSamples;
    while ((2 * loud - 1 + a.m_nGapSamples) / 2 != 3 * kFrames16) ++loud;
    r.plan = {{loud, true}, {6000, false}, {40000, true}, {30000, false}};
    r.UseFile({});
    const Prediction p = r.Predicted();
    ASSERT_EQ(p.cuts.at(0), 3 * kBlock);
    ASSERT_TRUE(r.Run());
    ExpectSongsMatch(r, p);
    EXPECT_EQ(r.Songs().at(0).size(), size_t(3 * kBlock));
    EXPECT_EQ(r.win.progress.at(3).nByteCount, kBlock);
    EXPECT_EQ(r.win.progress.at(3).nNewFiles, 1);
}

TEST(Recording, SplitAndEndGapInOneBlock) {
    // The split is made, the new file receives the rest of the block, then the thread ends.
    Recording r;
    CSignalAnalyzer a;
    ConfigureAnalyzer(a, r.format, {});
    Prediction p;
    for (long loud = 5 * kFrames16; loud < 6 * kFrames16 && r.plan.empty(); loud += 500) {
        const std::vector<Segment> plan{
            {40000, true}, {3000, false}, {loud - 43000, true}, {30000, false}};
        p = Predict(r.format, plan, a);
        if (p.cuts.size() == 2 && p.nEndByte / kBlock == p.cuts[1] / kBlock) r.plan = plan;
    }
    ASSERT_FALSE(r.plan.empty()) << "no input layout puts split and end in one block";
    r.UseFile({});
    ASSERT_TRUE(r.Run());
    ExpectSongsMatch(r, p);
    // One message for that block, with newFile 1, and it was the last.
    EXPECT_EQ(r.win.progress.back().nByteCount, kBlock);
    EXPECT_EQ(r.win.progress.back().nNewFiles, 1);
    EXPECT_TRUE(r.win.boxes.empty());
}

TEST(Recording, EndGapDeletesTheTrailingShortFileAtTheDefaultSettings) {
    // 44,100 per second with the default thresholds: the last file holds the silence after the
    // last split, shorter than End Gap, and goes; Stop at the same point keeps it.
    for (bool stop : {false, true}) {
        Recording r;
        r.format = {16, 44100, 2};
        r.plan = {{44100 * 31, true}, {44100 * 2, false}, {44100 * 31, true}, {44100 * 9, false}};
        r.UseFile({.fGapSize = 1.0, .fMinSong = 30.01, .fEndGap = 7.01});
        const Prediction p = r.Predicted();
        ASSERT_EQ(p.cuts.size(), 2u);
        ASSERT_GE(p.nEndByte, 0);
        if (stop) {  // pressed while the block in which End Gap is reached is handled
            r.win.onProgress = [&](size_t index) {
                if (long(index) + 1 == p.nEndByte / kBlock) r.ctl->OnStop();
            };
        }
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(fs::exists(r.dir / "SideA3.wav"), stop);
        if (stop) {
            EXPECT_TRUE(r.JoinedIsPrefix());
        } else {
            ExpectSongsMatch(r, p);
        }
    }
}

TEST(Recording, AllSilenceKeepsTheFirstFileAndEndOfInputKeepsAShortLastOne) {
    Recording silent;
    silent.plan = {{100000, false}};
    silent.UseFile({});
    ASSERT_TRUE(silent.Run());
    ExpectSongsMatch(silent, silent.Predicted());
    EXPECT_EQ(silent.Files().size(), 1u);
    EXPECT_EQ(silent.ctl->GetLastEnd(), RecordingEnd::EndGap);

    // A short block ends the recording like Stop: the last file stays, however short.
    Recording r;
    r.plan = {{40000, true}, {3000, false}, {500, true}};
    r.UseFile({});
    ASSERT_EQ(r.Predicted().cuts.size(), 1u);
    ASSERT_TRUE(r.Run());
    ExpectSongsMatch(r, r.Predicted());
    EXPECT_EQ(r.Files().size(), 2u);
    EXPECT_EQ(r.win.progress.back().nByteCount, long(r.input.size() % kBlock));
}

TEST(Recording, StopIsSeenWhileNoBufferComes) {
    Recording r;
    r.plan = {{10000, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Manual);
    r.ctl->m_nNoAudioTimeoutMs = 120000;
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    r.ctl->OnStop();
    ASSERT_TRUE(r.win.PumpUntilDone(std::chrono::seconds(30)));
    EXPECT_TRUE(r.win.progress.empty());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
    ASSERT_EQ(r.Files().size(), 1u);
    EXPECT_TRUE(r.Songs()[0].empty());
    EXPECT_TRUE(r.win.boxes.empty());
}

TEST(Recording, DeviceThatGoesQuietEndsTheRecordingWithAnError) {
    Recording r;
    r.plan = {{100000, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
    r.pTest->StallAfter(3 * kBlock + 1000);
    r.ctl->m_nWaitSliceMs = 20;
    r.ctl->m_nNoAudioTimeoutMs = 200;
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::NoAudio);
    ASSERT_FALSE(r.win.boxes.empty());
    EXPECT_EQ(r.win.boxes[0].title, "ERROR");
    EXPECT_EQ(r.win.boxes[0].icon, MsgIcon::Stop);
    EXPECT_EQ(r.win.boxes[0].text,
              "No audio arrived from the sound card for 1 seconds.\n"
              "The recording has been stopped; the song files are finished.\n");
    // The box comes first in the finish, before the controls are enabled again.
    const auto& log = r.win.log;
    EXPECT_LT(std::find(log.begin(), log.end(), "box:ERROR") - log.begin(),
              std::find(log.begin(), log.end(), "disable:1011") - log.begin());
    EXPECT_TRUE(r.Joined() == r.Slice(0, 3 * kBlock));
    EXPECT_TRUE(r.win.IsIdle());
}

TEST(Recording, WriterFailuresEndTheRecordingWithTheWritersText) {
    // The second song file cannot be created (a folder in its place), or sits on a full disk.
    for (bool fullDisk : {false, true}) {
        if (fullDisk && !fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
        Recording r;
        r.plan = {{40000, true}, {3000, false}, {fullDisk ? 200000 : 60000, true}, {30000, false}};
        r.UseFile({});
        const fs::path second = r.dir / "SideA2.wav";
        fullDisk ? fs::create_symlink("/dev/full", second) : (void)fs::create_directory(second);
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::WriterError);
        // SideA2.wav exists, so Record asked first.
        ASSERT_GE(r.win.boxes.size(), 2u);
        EXPECT_EQ(r.win.boxes[0].title, "File Exists");
        EXPECT_EQ(r.win.boxes[1].title, "ERROR");
        // One box, naming the file and the system's reason.
        EXPECT_EQ(r.win.boxes.size(), 2u);
        EXPECT_EQ(r.win.boxes[1].text,
                  fullDisk
                      ? "Cannot write to " + second.string() + ".\nNo space left on device.\n"
                      : "Cannot create output file " + second.string() + ".\nIs a directory.\n");
        // The failed file is let go at the finish, so the disk is not kept busy.
        EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            EXPECT_NE(fs::read_symlink(fd.path(), ec), fs::path("/dev/full"));
        }
        // The first song is whole and valid, and the recording did not run on.
        EXPECT_TRUE(ReadSongData(r.dir / "SideA1.wav", r.format) ==
                    r.Slice(0, r.Predicted().cuts.at(0)));
        EXPECT_LT(r.win.progress.size(), r.input.size() / kBlock);
        EXPECT_TRUE(r.win.IsIdle());
    }
}

TEST(Recording, SongFilesRollOverBeforeTheSizeLimit) {
    Recording r;
    r.plan = {{200000, true}};
    r.UseFile({.fGapSize = 0.1, .fMinSong = 100, .fEndGap = 10});
    r.ctl->m_nMaxSongBytes = 3 * kBlock + 100;
    ASSERT_TRUE(r.Run());
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), (r.input.size() + 3 * kBlock - 1) / (3 * kBlock));
    for (size_t k = 0; k + 1 < songs.size(); ++k) EXPECT_EQ(songs[k].size(), size_t(3 * kBlock));
    EXPECT_TRUE(r.Joined() == r.input);
    EXPECT_EQ(NewFileMessages(r.win), long(songs.size()) - 1);
    EXPECT_EQ(r.win.progress[3].nNewFiles, 1);
}

TEST(Recording, ReadAndStopFailuresOfTheDevice) {
    Recording r;
    r.plan = {{100000, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
    // Each ReadBuffer un-prepares once: the third block's read fails, ending the recording like
    // a short block with a 0-byte message.
    r.pTest->FailAt(TestOp::Unprepare, 3);
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::ShortBlock);
    ASSERT_EQ(r.win.progress.size(), 3u);
    EXPECT_EQ(r.win.progress[2].nByteCount, 0);
    EXPECT_TRUE(r.Joined() == r.Slice(0, 2 * kBlock));

    // A failed stop is shown first in the finish.
    Recording s;
    s.plan = {{50000, true}};
    s.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
    s.pTest->FailAt(TestOp::Stop);
    ASSERT_TRUE(s.Run());
    ASSERT_FALSE(s.win.boxes.empty());
    EXPECT_EQ(s.win.boxes[0].text, "Error with sound card driver (cannot stop RECORD device).\n");
    EXPECT_EQ(s.win.boxes[0].title, "ERROR");
    EXPECT_TRUE(s.Joined() == s.input);
}

// Stop keeps every frame the device took before it: the buffer it was filling, and a full one
// still waiting beside it.
TEST(Recording, StopKeepsEveryFrameCapturedBeforeThePress) {
    struct Case {
        const char* name;
        long before;  // bytes delivered before Stop, while the thread cannot look
        long after;   // bytes delivered by the recording thread's first report, after Stop
    };
    for (const Case c :
         {Case{"part of a buffer", 4000, 0}, Case{"a buffer and a part", kBlock + 4000, 0},
          Case{"a full one waiting and a part", kBlock, kBlock + 4000}}) {
        SCOPED_TRACE(c.name);
        Recording r;
        r.plan = {{8 * kFrames16, true}};
        r.UseTest({}, CTestCaptureBackend::Delivery::Manual);
        r.ctl->m_nWaitSliceMs = 20;
        r.ctl->OnRecord();
        ASSERT_TRUE(r.ctl->IsRecording());
        CTestCaptureBackend* dev = r.pTest;
        uint64_t taken = 0;
        {
            std::lock_guard<CCriticalSection> hold(r.ctl->GetLock());
            taken += dev->Produce(c.before);
            r.ctl->OnStop();
        }
        bool first = true;
        r.win.onPostInRecordingThread = [&] {
            if (first && c.after) taken += dev->Produce(c.after);
            first = false;
        };
        ASSERT_TRUE(r.win.PumpUntilDone());
        EXPECT_EQ(taken, uint64_t(c.before + c.after));
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
        EXPECT_EQ(dev->GetLostFrames(), 0u);
        EXPECT_TRUE(r.win.boxes.empty());
        const auto joined = r.Joined();
        ASSERT_EQ(joined.size(), taken);
        EXPECT_TRUE(r.JoinedIsPrefix());
        EXPECT_EQ(r.ctl->GetTotalBytes(), int64_t(taken));
    }
}

// Every report, handled only once the thread has ended, names the file its bytes went into and
// counts what the files hold: the clipped total whatever the pacing.
TEST(Recording, EachReportDescribesTheBytesOnDisk) {
    Recording r;
    for (int k = 0; k < 6; ++k)
        r.plan.insert(r.plan.end(), {{15000 + 3000L * k, true}, {2000, false}});
    r.input = MakeSamples(r.format, r.plan);
    // Full-scale samples in the music count as clipped (DC Block is off: the files keep them).
    for (size_t at = 202; at + 2 <= r.input.size(); at += 2 * 7919) {
        int16_t v;
        std::memcpy(&v, &r.input[at], 2);
        if (std::abs(v) < 1000) continue;
        v = at % 3 ? 32767 : -32768;
        std::memcpy(&r.input[at], &v, 2);
    }
    r.UseFile({.fGapSize = 0.1, .fMinSong = 1.0, .fEndGap = 25});
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    ASSERT_TRUE(r.win.WaitUntilDonePosted());
    std::vector<std::string> labels;
    r.win.onProgress = [&](size_t) { labels.push_back(r.win.texts[IDC_CURFILE]); };
    ASSERT_TRUE(r.win.PumpUntilDone());

    // Six songs, and the closing silence after the last split.
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), 7u);
    auto clippedIn = [](const std::vector<char>& bytes, size_t n) {
        int64_t clipped = 0;
        for (size_t i = 0; i + 2 <= n; i += 2) {
            int16_t v;
            std::memcpy(&v, &bytes[i], 2);
            clipped += v >= 32767 || v <= -32767;
        }
        return clipped;
    };
    const auto joined = r.Joined();
    int64_t before = 0;  // bytes of the files before the report's file
    int number = 1;
    for (size_t i = 0; i < r.win.progress.size(); ++i) {
        const RecordingProgress& p = r.win.progress[i];
        SCOPED_TRACE(i);
        for (; number < p.nSongNumber; ++number) before += int64_t(songs[number - 1].size());
        ASSERT_EQ(number, p.nSongNumber);
        EXPECT_LE(p.nSongBytes, int64_t(songs[number - 1].size()));
        EXPECT_EQ(before + p.nSongBytes, p.nTotalBytes);
        EXPECT_EQ(p.nClippedTotal, clippedIn(joined, size_t(p.nTotalBytes)));
        EXPECT_EQ(labels[i], "Cur File: SideA" + std::to_string(p.nSongNumber) + ".wav");
    }
    const int64_t clipped = clippedIn(joined, joined.size());
    EXPECT_GT(clipped, 10);
    EXPECT_EQ(r.win.texts[IDC_CLIPPED], "Clipped Pts: " + std::to_string(clipped));
}

// A mono side and its stereo copy (both channels equal) give song files of the same frames.
TEST(Recording, MonoSplitsWhereItsStereoCopySplits) {
    // Songs of at least Minimum Song Size (10 s at 11,025 frames a second), one with a pause
    // shorter than Gap Size inside it.
    const std::vector<Segment> plan = {{120000, true}, {3000, false},  {8000, true},
                                       {1500, false},  {115000, true}, {2500, false},
                                       {116000, true}, {30000, false}};
    std::vector<std::vector<size_t>> frames;
    for (int channels : {1, 2}) {
        Recording r;
        r.format = {16, 11025, channels};
        r.plan = plan;
        const auto mono = MakeSamples({16, 11025, 1}, plan);
        for (size_t at = 0; at < mono.size(); at += 2) {
            for (int ch = 0; ch < channels; ++ch)
                r.input.insert(r.input.end(), &mono[at], &mono[at] + 2);
        }
        r.UseFile({.fGapSize = 0.2, .fMinSong = 10.0, .fEndGap = 2.0});
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::EndGap);
        frames.emplace_back();
        for (const auto& song : r.Songs()) frames.back().push_back(song.size() / (2 * channels));
    }
    EXPECT_EQ(frames[0].size(), 4u);
    EXPECT_EQ(frames[0], frames[1]);
}

TEST(Recording, ADeviceThatFailsSaysSoAndFinishesTheFiles) {
    Recording r;
    r.plan = {{100000, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Automatic);
    r.pTest->FailAfter(3 * kBlock + 1000);
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::DeviceError);
    ASSERT_EQ(r.win.boxes.size(), 1u);
    EXPECT_EQ(r.win.boxes[0].title, "ERROR");
    EXPECT_EQ(r.win.boxes[0].text,
              std::string("The sound card failed during the recording: ") +
                  CTestCaptureBackend::kTestFailure +
                  "\nThe recording has been stopped; the song files are finished.\n");
    EXPECT_TRUE(r.Joined() == r.Slice(0, 3 * kBlock + 1000));
}

TEST(Recording, OverrunsOfUnknownLengthAreReportedAsSuch) {
    Recording r;
    r.plan = {{3 * kFrames16, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Manual);
    r.ctl->m_nWaitSliceMs = 20;
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    r.pTest->ReportOverflow();
    r.pTest->ReportOverflow();
    r.pTest->Produce(kBlock);
    r.win.onProgress = [&](size_t) { r.ctl->OnStop(); };
    ASSERT_TRUE(r.win.PumpUntilDone());
    ASSERT_EQ(r.win.boxes.size(), 1u);
    EXPECT_EQ(r.win.boxes[0].text,
              "Audio was lost: the sound card reported 2 overrun(s); how much audio each one lost "
              "is not known.\nAffected song file(s): SideA1.wav\n");
}

// A song file whose folder is removed mid-recording: the next block notices, and the recording
// ends with a word instead of writing on into a file that no longer exists.
TEST(Recording, ARemovedSongFolderEndsTheRecordingWithinABlock) {
    Recording r;
    r.plan = {{8 * kFrames16, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Manual);
    fs::create_directory(r.dir / "songs");
    r.win.strBasePath = (r.dir / "songs" / "SideA.wav").string();
    r.ctl->m_nWaitSliceMs = 20;
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    r.pTest->Produce(kBlock);
    r.win.onProgress = [&](size_t index) {
        if (index == 0) fs::remove_all(r.dir / "songs");
        r.pTest->Produce(kBlock);
    };
    ASSERT_TRUE(r.win.PumpUntilDone());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::FileRemoved);
    EXPECT_EQ(r.win.progress.size(), 2u);
    ASSERT_EQ(r.win.boxes.size(), 1u);
    EXPECT_EQ(r.win.boxes[0].text,
              "The song file " + (r.dir / "songs" / "SideA1.wav").string() +
                  " was removed while it was being recorded (the file or its folder was "
                  "deleted).\nThe recording has been stopped.\n");
    EXPECT_TRUE(r.win.IsIdle());
}

// Frames that encode their own number, cut by short songs and periodic silences, in both
// sample formats: the song files joined must be the input exactly.
TEST(RecordingIntegrity, ForcedSplitsLoseRepeatAndReorderNothing) {
    std::mt19937 random(12345);
    for (const Format format : {Format{16, 11025, 2}, Format{32, 22050, 2}}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message() << "format " << format.nBits << " round " << round);
            Recording r;
            r.format = format;
            for (int k = 0; k < 12; ++k) {
                r.plan.push_back({17000 + long(random() % 30000), true});
                r.plan.push_back({1000 + long(random() % 4000), false});
            }
            r.plan.push_back({5000, true});
            r.UseFile({.fGapSize = 0.05, .fMinSong = 1.0, .fEndGap = 25});
            ASSERT_TRUE(r.Run());
            const auto joined = r.Joined();
            ASSERT_TRUE(joined == r.input);
            const size_t frameBytes = size_t(format.FrameBytes());
            for (size_t f = 0; f < joined.size() / frameBytes; f += 997) {
                ASSERT_EQ(DecodeFrame(format, joined.data() + f * frameBytes), long(f));
            }
            EXPECT_GT(r.Files().size(), 5u);
        }
    }
}

TEST(RecordingIntegrity, LostFramesAreReportedExactlyAndWhere) {
    Recording r;
    r.plan = {{8 * kFrames16 + 1500, true}};
    r.UseTest({}, CTestCaptureBackend::Delivery::Manual);
    r.ctl->m_nWaitSliceMs = 20;
    r.ctl->OnRecord();
    ASSERT_TRUE(r.ctl->IsRecording());
    CTestCaptureBackend* dev = r.pTest;
    {
        // A recording thread held up fills both buffers; what comes then is lost.
        std::lock_guard<CCriticalSection> hold(r.ctl->GetLock());
        dev->Produce(2 * kBlock);
        dev->Produce(1000 * 4);
    }
    // From here on the device delivers a block each time the thread has taken one.
    r.win.onProgress = [&](size_t) { dev->Produce(kBlock); };
    ASSERT_TRUE(r.win.PumpUntilDone(std::chrono::seconds(60)));

    EXPECT_EQ(r.ctl->GetWaveIn().GetLostFrames(), 1000u);
    ASSERT_FALSE(r.win.boxes.empty());
    EXPECT_EQ(r.win.boxes.back().title, "ERROR");
    EXPECT_EQ(r.win.boxes.back().text,
              "Audio was lost: the sound card delivered 1000 frame(s) (0.091 seconds) that could "
              "not be taken in time.\nAffected song file(s): SideA1.wav\n");
    // The files hold the input with exactly those frames missing, right after the two blocks.
    const auto joined = r.Joined();
    long missing = 0;
    for (size_t f = 1; f < joined.size() / 4; ++f) {
        const long step = DecodeFrame(r.format, joined.data() + 4 * f) -
                          DecodeFrame(r.format, joined.data() + 4 * (f - 1));
        ASSERT_GE(step, 1) << "frame " << f << " repeated or reordered";
        EXPECT_TRUE(step == 1 || f == size_t(2 * kFrames16)) << "gap at frame " << f;
        missing += step - 1;
    }
    EXPECT_EQ(missing, 1000);
}

TEST(RecordingThreads, StopMidRecordingWhileTheMetersReadKeepsWholeFrames) {
    // Real-time pacing at 48 kHz float (a block every 171 ms) while a meter thread reads levels
    // every millisecond and Stop comes from the UI thread: under ThreadSanitizer this shows the
    // shared state is reached only under the recording lock.
    Recording r;
    r.format = {32, 48000, 2};
    r.plan = {{48000 * 10, true}};
    r.UseFile({}, FilePacing::RealTime);
    SetMeterLevelSource(r.ctl.get());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, loudest{-100};
    std::thread meters([&] {
        while (!done) {
            for (int ch = 0; ch < 2; ++ch, ++reads) {
                int power = 0, peak = 0, clips = 0;
                GetMeterLevels(ch, &power, &peak, &clips);
                if (peak > loudest) loudest = peak;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    r.win.onProgress = [&](size_t index) {
        if (index == 1) r.ctl->OnStop();
    };
    const bool finished = r.Run();
    done = true;
    meters.join();
    SetMeterLevelSource(nullptr);
    ASSERT_TRUE(finished);
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GE(loudest.load(), -12);  // every block of the input peaks above -12 dBFS
    // The one file holds whole frames, at least the blocks handled before Stop, not all the
    // input.
    const auto joined = r.Joined();
    ASSERT_EQ(r.Files().size(), 1u);
    EXPECT_EQ(joined.size() % 8, 0u);
    EXPECT_GE(joined.size(), size_t(2 * kBlock));
    EXPECT_LT(joined.size(), r.input.size());
    EXPECT_TRUE(r.JoinedIsPrefix());
    EXPECT_NE(std::find(r.win.log.begin(), r.win.log.end(), "wait:500"), r.win.log.end());
}
