// Whole recordings through the control, the recording thread and a capture backend: the song
// files must hold the input byte for byte, cut where the gap rule says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/uio.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "audio/QueuedFileOutput.h"
#include "engine/tests/RecordingFixture.h"

using namespace rectest;
using Delivery = CTestCaptureBackend::Delivery;

namespace {

// Each file holds its stretch of the input, the last one up to the end of the block in which
// End Gap was reached, or to the end of the input; after End Gap the trailing files opened at
// splits that heard nothing above Gap Level are gone.
void ExpectSongsMatch(const Recording& r, const Prediction& p) {
    std::vector<long> bounds{0};
    bounds.insert(bounds.end(), p.cuts.begin(), p.cuts.end());
    const long total = long(r.input.size());
    const long end = p.nEndBlock < 0 ? total : std::min(total, (p.nEndBlock + 1) * kBlock);
    bounds.push_back(end);
    const size_t deleted = p.nEndBlock >= 0 ? size_t(p.nRunOutPieces) : 0;
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), bounds.size() - 1 - deleted);
    for (size_t k = 0; k < songs.size(); ++k) {
        EXPECT_TRUE(songs[k] == r.Slice(bounds[k], bounds[k + 1]))
            << "song " << k + 1 << ": " << songs[k].size() << " bytes, expected "
            << bounds[k + 1] - bounds[k];
    }
    EXPECT_EQ(r.ctl->GetLastEnd(),
              p.nEndBlock >= 0 ? RecordingEnd::EndGap : RecordingEnd::ShortBlock);
}

}  // namespace

// A split exactly at the start of a block, and a split and End Gap within one block.
TEST(Recording, SplitsAtBlockEdgesAndTogetherWithTheEnd) {
    CSignalAnalyzer a;
    ConfigureAnalyzer(a, Format{}, {});
    // Silence after loud frame F - 1 reaches Gap Size at frame (2F - 1 + G) / 2: put that at
    // the start of block 3.
    long loud = 3 * kFrames16 - a.m_nGapSamples;
    while ((2 * loud - 1 + a.m_nGapSamples) / 2 != 3 * kFrames16) ++loud;
    Recording atStart({{loud, true}, {6000, false}, {40000, true}, {30000, false}});
    atStart.UseFile({});
    ASSERT_EQ(atStart.Predicted().cuts.at(0), 3 * kBlock);
    ASSERT_TRUE(atStart.Run());
    ExpectSongsMatch(atStart, atStart.Predicted());
    EXPECT_EQ(atStart.win.progress.at(3).nNewFiles, 1);

    // The split is made, the new file receives the rest of the block, then the thread ends.
    Recording both;
    Prediction p;
    for (loud = 5 * kFrames16; loud < 6 * kFrames16 && both.plan.empty(); loud += 500) {
        const std::vector<Segment> plan{
            {40000, true}, {3000, false}, {loud - 43000, true}, {30000, false}};
        p = Predict(MakeSamples(both.format, plan), a);
        if (p.cuts.size() == 2 && p.nEndBlock == p.cuts[1] / kBlock) both.plan = plan;
    }
    ASSERT_FALSE(both.plan.empty()) << "no input layout puts split and end in one block";
    both.UseFile({});
    ASSERT_TRUE(both.Run());
    ExpectSongsMatch(both, p);
    EXPECT_EQ(both.win.progress.back().nByteCount, kBlock);
    EXPECT_EQ(both.win.progress.back().nNewFiles, 1);
}

// What End Gap does not delete: the trailing short file (deleted in the next test) when Stop is
// pressed while the block in which End Gap is reached is handled, and the only file.
TEST(Recording, EndGapKeepsTheFileStopWasPressedInAndTheOnlyFile) {
    Recording r({{44100 * 31, true}, {44100 * 2, false}, {44100 * 31, true}, {44100 * 9, false}},
                {16, 44100, 2});
    r.UseFile({.fGapSize = 1.0, .fMinSong = 30.01, .fEndGap = 7.01});
    const Prediction p = r.Predicted();
    ASSERT_EQ(p.cuts.size(), 2u);
    ASSERT_GE(p.nEndBlock, 0);
    r.win.onProgress = [&](size_t index) {
        if (long(index) + 1 == p.nEndBlock) r.ctl->OnStop();
    };
    ASSERT_TRUE(r.Run());
    EXPECT_TRUE(fs::exists(r.dir / "SideA3.wav"));
    EXPECT_TRUE(r.JoinedIsPrefix());
    EXPECT_FALSE(r.win.report.bNothingHeard);
    // All silence: End Gap before any split keeps the first file, and the report says that
    // nothing was heard for End Gap (1.003 s here) in whole seconds.
    Recording silent({{100000, false}});
    silent.UseFile({});
    ASSERT_TRUE(silent.Run());
    ExpectSongsMatch(silent, silent.Predicted());  // one file
    EXPECT_TRUE(silent.win.report.bNothingHeard);
    EXPECT_EQ(silent.win.report.nEndGapSeconds, 1);
    // Music shorter than Minimum Song Size, then End Gap: one file, but something was heard.
    Recording shortSong({{3000, false}, {20000, true}, {100000, false}});
    shortSong.UseFile({});
    ASSERT_TRUE(shortSong.Run());
    EXPECT_EQ(shortSong.Files().size(), 1u);
    EXPECT_FALSE(shortSong.win.report.bNothingHeard);
}

// The file opened at the last split runs on to the end of the block in which End Gap was reached,
// often longer than End Gap: what decides is that nothing in it rose above Gap Level. The lead-in
// moves the End Gap moment through the block.
TEST(Recording, EndGapDeletesTheTrailingSilentFileWhereverTheBlockEnds) {
    const Format formats[] = {{16, 11025, 1}, {16, 44100, 2}, {32, 44100, 2}, {32, 11025, 1}};
    for (const Format& format : formats) {
        const long blockFrames = kBlock / format.FrameBytes();
        for (int step = 0; step < 5; ++step) {
            const long lead = format.nRate / 20 + blockFrames * step / 5;
            Recording r({{format.nRate / 20, false},
                         {lead + format.nRate * 2, true},
                         {format.nRate / 2, false},
                         {format.nRate * 4, true},  // longer than a block: a split each
                         {format.nRate * 12, false}},
                        format);
            // An End Gap longer than Gap Size and Minimum Song Size together cuts the silence
            // into pieces, a Minimum Song Size apart: every one of them goes.
            const float endGap = step % 2 == 0 ? 1.0f : 3.0f;
            r.UseFile({.fGapSize = 0.1, .fMinSong = 1.0, .fEndGap = endGap});
            const Prediction p = r.Predicted();
            SCOPED_TRACE(testing::Message() << format.nBits << "-bit " << format.nRate << " Hz "
                                            << format.nChannels << " ch, step " << step);
            const size_t pieces = p.cuts.size() - 1;
            ASSERT_EQ(pieces > 1, step % 2 != 0);
            ASSERT_GE(p.nEndBlock, 0);
            ASSERT_TRUE(r.Run());
            const auto songs = r.Songs();
            ASSERT_EQ(songs.size(), 2u);  // the two songs; the silence after them is gone
            EXPECT_TRUE(songs[0] == r.Slice(0, p.cuts[0]));
            EXPECT_TRUE(songs[1] == r.Slice(p.cuts[0], p.cuts[1]));
            const auto& files = r.win.report.files;
            ASSERT_EQ(files.size(), 2 + pieces);
            EXPECT_FALSE(files[1].bRemoved);
            for (size_t k = 2; k < files.size(); ++k) EXPECT_TRUE(files[k].bRemoved) << k;
            EXPECT_EQ(r.win.report.nLastAudioSong, 2);
        }
    }
}

// However a recording ends, the files hold what was captured up to its end, finished, and the
// report says how it ended and why, in values; the window's words for them are the texts'
// business (their own test).
TEST(Recording, EveryWayARecordingEndsIsReportedAsAValue) {
    const struct {
        const char* name;
        std::function<void(Recording&)> setup;
        RecordingEnd end;
        std::vector<FailureKind> failures;
        std::string detail;  // the first failure's szText
        long kept;           // bytes in the files
        bool stopPressed = false;
    } cases[] = {
        {"end of input", [](Recording&) {}, RecordingEnd::ShortBlock, {}, "", 100000 * 4},
        // The device stalls after a few blocks, so that only Stop can end the recording however
        // late the window handles the report that presses it.
        {"stop",
         [](Recording& r) {
             r.pTest->StallAfter(3 * kBlock + 1000);
             r.win.onProgress = [&r](size_t i) { i == 1 ? r.ctl->OnStop() : void(); };
         },
         RecordingEnd::Stop,
         {},
         "",
         -1,
         true},
        {"goes quiet",
         [](Recording& r) {
             r.pTest->StallAfter(3 * kBlock + 1000);
             r.ctl->m_nWaitSliceMs = 20;
             r.ctl->m_nNoAudioTimeoutMs = 200;
         },
         RecordingEnd::NoAudio,
         {FailureKind::NoAudio},
         "",
         3 * kBlock},
        {"fails",
         [](Recording& r) { r.pTest->FailAfter(3 * kBlock + 1000); },
         RecordingEnd::DeviceError,
         {FailureKind::DeviceFailed},
         CTestCaptureBackend::kTestFailure,
         3 * kBlock + 1000},
        // Each ReadBuffer un-prepares once: the third block's read fails, a short block.
        {"read fails",
         [](Recording& r) { r.pTest->FailAt(TestOp::Unprepare, 3); },
         RecordingEnd::ShortBlock,
         {},
         "",
         2 * kBlock},
        {"stop fails",
         [](Recording& r) { r.pTest->FailAt(TestOp::Stop); },
         RecordingEnd::ShortBlock,
         {FailureKind::DeviceStop},
         "Error with sound card driver (cannot stop RECORD device).\n",
         100000 * 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recording r({{100000, true}});
        r.UseTest({}, Delivery::Automatic);
        c.setup(r);
        ASSERT_TRUE(r.Run());
        const RecordingReport& report = r.win.report;
        ASSERT_TRUE(report.bValid);
        EXPECT_EQ(report.end, c.end);
        EXPECT_EQ(r.ctl->GetLastEnd(), c.end);
        EXPECT_EQ(report.bStopPressed, c.stopPressed);
        ASSERT_EQ(report.failures.size(), c.failures.size());
        for (size_t i = 0; i < c.failures.size(); ++i) {
            EXPECT_EQ(report.failures[i].kind, c.failures[i]);
        }
        if (!c.failures.empty() && !c.detail.empty()) {
            EXPECT_EQ(report.failures[0].szText, c.detail);
        }
        if (c.end == RecordingEnd::NoAudio) {
            EXPECT_EQ(report.failures[0].nNumber, 1);  // seconds
        }
        const long kept = c.kept >= 0 ? c.kept : long(report.nTotalBytes);
        EXPECT_TRUE(r.Joined() == r.Slice(0, kept));
        // The files as the report lists them: one, holding what was kept.
        ASSERT_EQ(report.files.size(), 1u);
        EXPECT_EQ(report.files[0].strPath, (r.dir / "SideA1.wav").string());
        EXPECT_EQ(report.files[0].strShown, "SideA1.wav");
        EXPECT_EQ(report.files[0].nBytes, kept);
        EXPECT_EQ(report.files[0].nFrames, kept / 4);
        EXPECT_EQ(report.nLastAudioSong, 1);
        EXPECT_FALSE(r.ctl->IsRecording());
        EXPECT_FALSE(r.ctl->HasBlockBuffer());
    }
}

TEST(Recording, WriterFailuresEndTheRecordingWithTheWritersText) {
    // The second song file cannot be created (a folder in its place), or sits on a full disk.
    for (bool fullDisk : {false, true}) {
        if (fullDisk && !fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
        Recording r(
            {{40000, true}, {3000, false}, {fullDisk ? 200000 : 60000, true}, {30000, false}});
        r.UseFile({});
        const fs::path second = r.dir / "SideA2.wav";
        fullDisk ? fs::create_symlink("/dev/full", second) : (void)fs::create_directory(second);
        ASSERT_TRUE(r.win.Record());  // SideA2.wav exists: asked, and Yes
        EXPECT_EQ(r.win.asked.nLowest, 2);
        ASSERT_TRUE(r.win.PumpUntilDone());
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::WriterError);
        // One failure, naming the file and the system's reason.
        const RecordingReport& report = r.win.report;
        ASSERT_EQ(report.failures.size(), 1u);
        EXPECT_EQ(report.failures[0].kind, FailureKind::Writer);
        EXPECT_EQ(report.failures[0].szPath, second.string());
        EXPECT_EQ(report.failures[0].szText,
                  fullDisk
                      ? "Cannot write to " + second.string() + ".\nNo space left on device.\n"
                      : "Cannot create output file " + second.string() + ".\nIs a directory.\n");
        EXPECT_EQ(r.win.messages.size(), 1u);
        // Both fail while the second file is begun (its header does not reach the full disk):
        // that file never took audio, and the first is the last one holding it.
        EXPECT_TRUE(report.bNextFileFailed);
        EXPECT_EQ(report.nLastAudioSong, 1);
        EXPECT_EQ(report.files.size(), 1u);
        // The failed file is let go at the finish, so the disk is not kept busy.
        EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            EXPECT_NE(fs::read_symlink(fd.path(), ec), fs::path("/dev/full"));
        }
        // The first song is whole, and the recording did not run on.
        EXPECT_TRUE(ReadSongData(r.dir / "SideA1.wav", r.format) ==
                    r.Slice(0, r.Predicted().cuts.at(0)));
        EXPECT_EQ(report.files[0].nBytes, r.Predicted().cuts.at(0));
        EXPECT_LT(r.win.progress.size(), r.input.size() / kBlock);
    }
}

TEST(Recording, SongFilesRollOverBeforeTheSizeLimit) {
    Recording r({{200000, true}});
    r.UseFile({.fGapSize = 0.1, .fMinSong = 100, .fEndGap = 10});
    r.ctl->m_nMaxSongBytes = 3 * kBlock + 100;
    ASSERT_TRUE(r.Run());
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), (r.input.size() + 3 * kBlock - 1) / (3 * kBlock));
    for (size_t k = 0; k + 1 < songs.size(); ++k) EXPECT_EQ(songs[k].size(), size_t(3 * kBlock));
    EXPECT_TRUE(r.Joined() == r.input);
    EXPECT_EQ(r.win.progress[3].nNewFiles, 1);
}

// Stop keeps every frame the device took before it (none at all, the buffer it was filling, a
// full one still waiting beside it) in the one song file.
TEST(Recording, StopKeepsEveryFrameCapturedBeforeThePress) {
    const struct {
        const char* name;
        long before;  // bytes delivered before Stop, while the thread cannot look
        long after;   // bytes delivered by the recording thread's first report, after Stop
    } cases[] = {{"nothing", 0, 0},
                 {"part of a buffer", 4000, 0},
                 {"a buffer and a part", kBlock + 4000, 0},
                 {"a full one waiting and a part", kBlock, kBlock + 4000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recording r({{8 * kFrames16, true}});
        r.UseTest({}, Delivery::Manual);
        r.ctl->m_nNoAudioTimeoutMs = 120000;  // Stop is seen while no buffer comes
        uint64_t taken = 0;
        bool first = true;
        r.win.onPostInRecordingThread = [&] {
            if (first && c.after) taken += r.pTest->Produce(c.after);
            first = false;
        };
        ASSERT_TRUE(r.Start());
        {
            std::lock_guard<CCriticalSection> hold(r.ctl->GetLock());
            taken += r.pTest->Produce(c.before);
            r.ctl->OnStop();
        }
        ASSERT_TRUE(r.win.PumpUntilDone());
        EXPECT_EQ(taken, uint64_t(c.before + c.after));
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::Stop);
        EXPECT_EQ(r.pTest->GetLostFrames(), 0u);
        EXPECT_TRUE(r.win.messages.empty());
        EXPECT_TRUE(taken > 0 || r.win.progress.empty());
        ASSERT_EQ(r.Files().size(), 1u);
        EXPECT_TRUE(r.Joined() == r.Slice(0, long(taken)));
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
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(r.win.WaitUntilDonePosted());
    std::vector<std::string> shown;
    r.win.onProgress = [&](size_t) { shown.push_back(r.win.CurFile()); };
    ASSERT_TRUE(r.win.PumpUntilDone());

    // Six songs, and the closing silence after the last split.
    const auto songs = r.Songs();
    ASSERT_EQ(songs.size(), 7u);
    const auto joined = r.Joined();
    auto clippedIn = [&joined](size_t n) {
        int64_t clipped = 0;
        for (size_t i = 0; i + 2 <= n; i += 2) {
            int16_t v;
            std::memcpy(&v, &joined[i], 2);
            clipped += v >= 32767 || v <= -32767;
        }
        return clipped;
    };
    int64_t before = 0;  // bytes of the files before the report's file
    int number = 1;
    for (size_t i = 0; i < r.win.progress.size(); ++i) {
        const RecordingProgress& p = r.win.progress[i];
        SCOPED_TRACE(i);
        for (; number < p.nSongNumber; ++number) before += int64_t(songs[number - 1].size());
        ASSERT_EQ(number, p.nSongNumber);
        EXPECT_LE(p.nSongBytes, int64_t(songs[number - 1].size()));
        EXPECT_EQ(before + p.nSongBytes, p.nTotalBytes);
        EXPECT_EQ(p.nClippedTotal, clippedIn(size_t(p.nTotalBytes)));
        EXPECT_EQ(shown[i], "SideA" + std::to_string(p.nSongNumber) + ".wav");
    }
    const int64_t clipped = clippedIn(joined.size());
    EXPECT_GT(clipped, 10);
    EXPECT_EQ(r.ctl->GetClippedTotal(), clipped);
    EXPECT_EQ(r.win.report.nClippedTotal, clipped);
    // The report lists every file with what it holds.
    ASSERT_EQ(r.win.report.files.size(), songs.size());
    for (size_t k = 0; k < songs.size(); ++k) {
        EXPECT_EQ(r.win.report.files[k].nBytes, int64_t(songs[k].size())) << k;
        EXPECT_FALSE(r.win.report.files[k].bRemoved);
    }
}

// A mono side and its stereo copy (both channels equal), DC Block and Smart Gap on, in both
// formats: song files of the same blocked samples, cut at the same frames, readouts on both
// bars, and each clipped sample counted once.
TEST(Recording, MonoSplitsWhereItsStereoCopySplits) {
    // Songs of 12 s, 16.6 s (with a quiet passage of 0.6 s) and 13 s between gaps of 2 s and 3 s,
    // then End Gap of silence; noise with a DC offset throughout, and a few clipped samples.
    const std::pair<double, bool> plan[] = {{12, true}, {2, false}, {8, true},  {0.6, false},
                                            {8, true},  {3, false}, {13, true}, {4, false}};
    std::vector<float> mono;
    uint32_t seed = 7;
    for (auto [seconds, loud] : plan) {
        for (long i = 0; i < long(seconds * 11025); ++i) {
            seed = seed * 1664525u + 1013904223u;
            mono.push_back(0.02f +
                           (loud ? 0.5f : 0.002f) * float(int32_t(seed >> 16) - 32768) / 32768.0f);
        }
    }
    mono[40000] = mono[400000] = -1.5f;
    mono[40001] = mono[400001] = 1.5f;
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        std::vector<std::vector<char>> left[2];  // the song files' first channel
        int64_t clipped[2] = {0, 0};
        for (int channels : {1, 2}) {
            Recording r;
            r.format = {bits, 11025, channels};
            const size_t sampleBytes = size_t(bits / 8);
            r.input.resize(mono.size() * size_t(channels) * sampleBytes);
            char* to = r.input.data();
            for (float x : mono) {
                const int16_t s16 = int16_t(std::clamp(x, -1.0f, 1.0f) * 32767);
                for (int ch = 0; ch < channels; ++ch, to += sampleBytes)
                    std::memcpy(to, bits == 16 ? static_cast<const void*>(&s16) : &x, sampleBytes);
            }
            r.UseFile({.fGapSize = 1.0, .fMinSong = 10.0, .fEndGap = 3.0});
            r.ctl->GetAnalyzer().SetDCBlock(1);
            r.ctl->GetAnalyzer().SetIgnoreClicks(1);
            r.win.onProgress = [&](size_t) {
                int level[2][3];
                for (int ch = 0; ch < 2; ++ch)
                    r.ctl->GetMeterLevels(ch, &level[ch][0], &level[ch][1], &level[ch][2]);
                EXPECT_TRUE(std::equal(level[0], level[0] + 3, level[1]));
            };
            ASSERT_TRUE(r.Run());
            EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::EndGap);
            for (const auto& song : r.Songs()) {
                left[channels - 1].emplace_back();
                for (size_t at = 0; at < song.size(); at += sampleBytes * size_t(channels))
                    left[channels - 1].back().insert(left[channels - 1].back().end(), &song[at],
                                                     &song[at] + sampleBytes);
            }
            clipped[channels - 1] = r.win.report.nClippedTotal;
        }
        // Split at both gaps (not at the quiet passage) and in the closing silence, whose short
        // file End Gap deleted.
        EXPECT_EQ(left[1].size(), 3u);
        EXPECT_TRUE(left[0] == left[1]);
        EXPECT_EQ(clipped[0] * 2, clipped[1]);
        EXPECT_GT(clipped[0], 0);
    }
}

TEST(Recording, OverrunsOfUnknownLengthAreReportedAsSuch) {
    Recording r({{3 * kFrames16, true}});
    r.UseTest({}, Delivery::Manual);
    ASSERT_TRUE(r.Start());
    r.pTest->ReportOverflow();
    r.pTest->ReportOverflow();
    r.pTest->Produce(kBlock);
    r.win.onProgress = [&](size_t) { r.ctl->OnStop(); };
    ASSERT_TRUE(r.win.PumpUntilDone());
    EXPECT_EQ(r.win.report.nOverflows, 2u);
    EXPECT_EQ(r.win.report.nLostFrames, 0u);
    EXPECT_EQ(r.win.report.lostIn, std::vector<std::string>{"SideA1.wav"});
    EXPECT_EQ(r.win.messages.size(), 1u);
}

// A song file whose folder is removed mid-recording: the next block notices, and the recording
// ends with a word instead of writing on into a file that no longer exists.
TEST(Recording, ARemovedSongFolderEndsTheRecordingWithinABlock) {
    Recording r({{8 * kFrames16, true}});
    r.UseTest({}, Delivery::Manual);
    fs::create_directory(r.dir / "songs");
    r.win.request.strPath = (r.dir / "songs" / "SideA.wav").string();
    ASSERT_TRUE(r.Start());
    r.pTest->Produce(kBlock);
    r.win.onProgress = [&](size_t index) {
        if (index == 0) fs::remove_all(r.dir / "songs");
        r.pTest->Produce(kBlock);
    };
    ASSERT_TRUE(r.win.PumpUntilDone());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::FileRemoved);
    EXPECT_EQ(r.win.progress.size(), 2u);
    ASSERT_EQ(r.win.report.failures.size(), 1u);
    EXPECT_EQ(r.win.report.failures[0].kind, FailureKind::FileRemoved);
    EXPECT_EQ(r.win.report.failures[0].szPath, (r.dir / "songs" / "SideA1.wav").string());
    EXPECT_FALSE(r.ctl->IsRecording());
}

// A capture read that never comes back (a card that stops answering) is given up after the
// no-audio limit: the recording ends with that failure and finished files while the read still
// hangs, and the device is closed in the background once it returns.
TEST(Recording, AStuckReadIsGivenUpAndTheDeviceClosedWhenItReturns) {
    Recording r({{40 * kFrames16, true}});
    r.UseTest({}, Delivery::Automatic);
    r.pTest->HangAfter(3 * kBlock + 1000);
    r.ctl->m_nWaitSliceMs = 20;
    r.ctl->m_nNoAudioTimeoutMs = 300;
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(r.win.PumpUntilDone());
    // Finished, device closed from our side, and the read is still out.
    EXPECT_TRUE(r.pTest->IsHanging());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::NoAudio);
    ASSERT_EQ(r.win.report.failures.size(), 1u);
    EXPECT_EQ(r.win.report.failures[0].kind, FailureKind::NoAudio);
    EXPECT_TRUE(r.win.report.strDeviceCloseError.empty());
    EXPECT_TRUE(r.Joined() == r.Slice(0, 3 * kBlock));
    EXPECT_EQ(r.ctl->GetWaveIn().GetHandle(), nullptr);
    EXPECT_TRUE(r.pTest->IsClosingInBackground());
    // Meanwhile the device does not open again.
    EXPECT_FALSE(r.win.Record());
    EXPECT_EQ(r.win.start.refusal, StartRefusal::DeviceOpen);

    r.pTest->ReleaseHang();
    EXPECT_TRUE(r.pTest->WaitClosedInBackground(60000));
    EXPECT_TRUE(r.pTest->WaitSourceClosed(0));
}

// A recording the full disk ended: a writer failure with the writer's words for SideA1.wav, said
// once (the failed close of the same file is not repeated), and the file let go.
static void ExpectTheDiskFilled(const Recording& r) {
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::WriterError);
    const RecordingReport& report = r.win.report;
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].kind, FailureKind::Writer);
    EXPECT_THAT(std::string(report.failures[0].szText),
                HasSubstr("Cannot write to " + (r.dir / "SideA1.wav").string() + ".\n"));
    EXPECT_THAT(std::string(report.failures[0].szText), HasSubstr("File too large"));
    EXPECT_EQ(r.win.messages.size(), 1u);
    EXPECT_TRUE(report.strWriterCloseError.empty());
    EXPECT_FALSE(r.ctl->GetWriter().IsOpen());
}

// A disk that fills at a given size, written at once on the caller's thread: a failed write is
// known when the writer's call returns, so the block it ended is exact.
class CFillingDisk : public IFileOutput {
public:
    explicit CFillingDisk(uint64_t room) : m_nRoom(room) {}
    int Open(const char* path) override {
        return ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) override {
        size_t bytes = 0;
        for (int i = 0; i < count; ++i) bytes += pieces[i].iov_len;
        if (offset + bytes > m_nRoom) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwritev(handle, pieces, count, off_t(offset));
    }
    int Close(int handle) override { return ::close(handle); }

private:
    uint64_t m_nRoom;
};

// The disk fills while a song is written: the recording ends at the block whose write failed,
// not minutes later at the next split or at the end of the side, and the song file is left
// finished.
TEST(Recording, AFailedWriteEndsTheRecordingAtItsBlock) {
    Recording r({{20 * kFrames16, true}});
    r.UseTest({}, Delivery::Automatic);
    // The header and three blocks fit; the fourth block's write fails.
    CFillingDisk disk(44 + 3 * uint64_t(kBlock) + 100);
    r.ctl->GetWriter().SetOutput(&disk);
    ASSERT_TRUE(r.Run());
    EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::WriterError);
    ASSERT_EQ(r.win.report.failures.size(), 1u);
    EXPECT_THAT(std::string(r.win.report.failures[0].szText), HasSubstr("No space left on device"));
    EXPECT_LE(r.win.report.nTotalBytes, 4 * kBlock);
    // The song file is finished, holding the blocks that reached the disk.
    const WavFile wav = ReadWav(r.dir / "SideA1.wav");
    EXPECT_EQ(wav.szProblem, "");
    EXPECT_EQ(wav.nDataBytes, uint64_t(3 * kBlock));
    EXPECT_TRUE(r.JoinedIsPrefix());
}

// A write that fails only after the last block was handed to the writer thread (a slow disk
// that then fills) is learned as the last file is closed: the recording still ends as a writer
// failure, told once with the writer's words, not as a clean end with a failed close.
TEST(Recording, AWriteFailingAfterTheLastBlockEndsAsAWriterFailure) {
    Recording r({{6 * kFrames16, true}});
    r.UseTest({}, Delivery::Manual);
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    // The header and the first two blocks reach the disk; later writes wait for the gate, then
    // find the disk full.
    const uint64_t kept = 44 + 2 * uint64_t(kBlock);
    CQueuedFileOutput output(1 << 22, 256, 1);
    output.SetSink([&](int fd, const unsigned char* data, size_t bytes, uint64_t offset) {
        if (offset + bytes <= kept) {
            return ::pwrite(fd, data, bytes, off_t(offset)) == ssize_t(bytes) ? 0 : EIO;
        }
        std::unique_lock<std::mutex> lock(mutex);
        opened.wait(lock, [&] { return open; });
        return EFBIG;
    });
    r.ctl->GetWriter().SetOutput(&output);
    ASSERT_TRUE(r.Start());
    r.pTest->Produce(kBlock);
    r.win.onProgress = [&](size_t index) {
        // The progress of the last block comes after it was handed over: only then may the
        // writes fail.
        if (index == 5) {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
            opened.notify_all();
        }
        r.pTest->Produce(kBlock);
    };
    ASSERT_TRUE(r.win.PumpUntilDone());
    ExpectTheDiskFilled(r);
    EXPECT_TRUE(r.JoinedIsPrefix());
}

// Frames that encode their own number, cut by short songs and periodic silences into more than
// nine files, in both sample formats: every file is the stretch of the input the gap rule
// predicts, the last one ended by the input (a short block), however short; the song files
// joined are the input exactly.
TEST(RecordingIntegrity, ForcedSplitsLoseRepeatAndReorderNothing) {
    std::mt19937 random(12345);
    for (const Format format : {Format{16, 11025, 2}, Format{32, 11025, 2}}) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(testing::Message() << "format " << format.nBits << " round " << round);
            Recording r;
            r.format = format;
            // Songs longer than Minimum Song Size and than a block (the analyser reports one
            // split per block).
            for (int k = 0; k < 16; ++k) {
                r.plan.push_back({17000 + long(random() % 30000), true});
                r.plan.push_back({1000 + long(random() % 4000), false});
            }
            r.plan.push_back({500, true});
            r.UseFile({.fGapSize = 0.05, .fMinSong = 1.0, .fEndGap = 25});
            ASSERT_TRUE(r.Run());
            const Prediction p = r.Predicted();
            ASSERT_GE(p.cuts.size(), 10u);  // numbers past nine: SideA10.wav, not SideA010.wav
            ExpectSongsMatch(r, p);
            long newFiles = 0;
            for (const auto& m : r.win.progress) newFiles += m.nNewFiles;
            EXPECT_EQ(newFiles, long(p.cuts.size()));
            const auto joined = r.Joined();
            ASSERT_TRUE(joined == r.input);
            const size_t frameBytes = size_t(format.FrameBytes());
            for (size_t f = 0; f < joined.size() / frameBytes; f += 997) {
                ASSERT_EQ(DecodeFrame(format, joined.data() + f * frameBytes), long(f));
            }
            EXPECT_TRUE(r.win.messages.empty());
            EXPECT_EQ(r.win.CurFile(), "SideA" + std::to_string(p.cuts.size() + 1) + ".wav");
        }
    }
}

TEST(RecordingIntegrity, LostFramesAreReportedExactlyAndWhere) {
    Recording r({{8 * kFrames16 + 1500, true}});
    r.UseTest({}, Delivery::Manual);
    r.ctl->m_fCaptureQueueSeconds = 0;  // two buffers
    ASSERT_TRUE(r.Start());
    {
        // A recording thread held up fills both buffers; what comes then is lost.
        std::lock_guard<CCriticalSection> hold(r.ctl->GetLock());
        r.pTest->Produce(2 * kBlock + 1000 * 4);
    }
    // From here on the device delivers a block each time the thread has taken one.
    r.win.onProgress = [&](size_t) { r.pTest->Produce(kBlock); };
    ASSERT_TRUE(r.win.PumpUntilDone());

    EXPECT_EQ(r.ctl->GetWaveIn().GetLostFrames(), 1000u);
    EXPECT_EQ(r.win.report.nLostFrames, 1000u);
    EXPECT_EQ(r.win.report.nOverflows, 0u);
    EXPECT_EQ(r.win.report.lostIn, std::vector<std::string>{"SideA1.wav"});
    EXPECT_EQ(r.win.messages.size(), 1u);
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
    Recording r({{48000 * 10, true}}, {32, 48000, 2});
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
    // One file of whole frames: at least the blocks handled before Stop, not all the input.
    const auto joined = r.Joined();
    ASSERT_EQ(r.Files().size(), 1u);
    EXPECT_EQ(joined.size() % 8, 0u);
    EXPECT_GE(joined.size(), size_t(2 * kBlock));
    EXPECT_LT(joined.size(), r.input.size());
    EXPECT_TRUE(r.JoinedIsPrefix());
}

// The warnings' facts, in audio time: no sound is reported once the first 15 s held nothing at
// Gap Level and until a block reaches it; clipped samples are reported while they are among the
// last seconds of audio, and not once those seconds have passed.
TEST(Recording, ReportsSilenceAtTheStartAndRecentClipsInAudioTime) {
    Recording r;
    const long rate = r.format.nRate;
    const long silent = 20 * rate;
    const long clipAt = silent + 2 * rate;  // a burst of clipped frames two seconds into the music
    r.plan = {{silent, false}, {12 * rate, true}};
    r.input = MakeSamples(r.format, r.plan);
    constexpr int kBurst = 40;
    for (long f = clipAt; f < clipAt + kBurst; ++f) {
        const int16_t v = 32767;
        std::memcpy(&r.input[size_t(f) * 4], &v, 2);  // the left sample of each frame
    }
    r.UseFile({.fGapSize = 0.1, .fMinSong = 1.0, .fEndGap = 25});
    ASSERT_TRUE(r.Run());

    bool warned = false, clipsSeen = false;
    for (size_t i = 0; i < r.win.progress.size(); ++i) {
        const RecordingProgress& p = r.win.progress[i];
        SCOPED_TRACE(i);
        const long frames = long(p.nTotalBytes / 4);
        EXPECT_EQ(p.bNoSoundYet != 0,
                  frames >= RecordingProgress::kNoSoundSeconds * rate && frames <= silent);
        warned |= p.bNoSoundYet != 0;
        if (frames <= clipAt) {
            EXPECT_EQ(p.nRecentClips, 0);
        } else if (frames <= clipAt + rate) {
            EXPECT_EQ(p.nRecentClips, kBurst);
            clipsSeen = true;
        } else if (frames >= clipAt + (RecordingProgress::kClipWindowSeconds + 1) * rate) {
            EXPECT_EQ(p.nRecentClips, 0);
        }
    }
    EXPECT_TRUE(warned);
    EXPECT_TRUE(clipsSeen);
    EXPECT_EQ(r.win.report.nClippedTotal, kBurst);
}

// End Gap of silence ends a silent start by itself, by default long before 15 s: the warning
// comes early enough to be read before the end, and never after 15 s.
TEST(Recording, NoSoundIsReportedBeforeEndGapEndsTheRecording) {
    const struct {
        float fEndGap;
        double fWarnSeconds;
    } cases[] = {{7.01f, 3.505}, {5.0f, 2.5}, {18.0f, 13.0}, {25.0f, 15.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fEndGap);
        Recording r;
        const long rate = r.format.nRate;
        r.plan = {{30 * rate, false}};
        r.input = MakeSamples(r.format, r.plan);
        r.UseFile({.fGapSize = 0.1, .fMinSong = 1.0, .fEndGap = c.fEndGap});
        ASSERT_TRUE(r.Run());
        EXPECT_EQ(r.ctl->GetLastEnd(), RecordingEnd::EndGap);
        const auto warnAt = long(c.fWarnSeconds * rate);
        bool warned = false;
        for (const RecordingProgress& p : r.win.progress) {
            const long frames = long(p.nTotalBytes / 4);
            EXPECT_EQ(p.bNoSoundYet != 0, frames >= warnAt) << frames;
            warned |= p.bNoSoundYet != 0;
        }
        EXPECT_TRUE(warned);
    }
}
