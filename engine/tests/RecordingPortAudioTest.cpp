// The real capture path without sound hardware: a recording through PortAudio over ALSA, whose
// default input plays a raw file (a test-only ALSA configuration set in this program's
// environment), must give the same song files as the file backend makes from the same input.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/tests/RecordingFixture.h"

using namespace rectest;

class RecordingPortAudio : public ::testing::TestWithParam<int> {};

TEST_P(RecordingPortAudio, SongFilesEqualThoseOfTheFileBackend) {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    if (!config || !fs::exists(config)) GTEST_SKIP() << "no test ALSA configuration";
    // The raw file is in the capture format itself, so ALSA converts nothing. The device repeats
    // stale data after the file's end: the input ends by End Gap well before that.
    Recording byFile;
    byFile.format = {GetParam(), 44100, 2};
    byFile.plan = {{70000, true}, {9000, false}, {95000, true},
                   {6000, false}, {60000, true}, {44100 * 4, false}};
    byFile.UseFile({});
    ASSERT_TRUE(byFile.Run());
    ASSERT_EQ(byFile.ctl->GetLastEnd(), RecordingEnd::EndGap);
    const auto expected = byFile.Songs();
    ASSERT_GE(expected.size(), 3u);

    // The device is unpaced: a recording thread kept off the processor for long (a busy
    // machine) makes it lose frames, which must then be reported. Such a run proves nothing
    // about the files; another attempt is made.
    for (int attempt = 1;; ++attempt) {
        Recording live;
        live.format = byFile.format;
        live.input = byFile.input;
        WriteFile(live.dir / "tape.raw", live.input);
        setenv("VELLISTO_TAPE_IN", (live.dir / "tape.raw").c_str(), 1);
        live.Init({}, MakePortAudioBackend());
        live.ctl->m_settings.nWaveInID = -1;  // the system default: the tape
        ASSERT_TRUE(live.Run());
        EXPECT_EQ(live.ctl->GetLastEnd(), RecordingEnd::EndGap);
        const uint64_t lost = live.ctl->GetWaveIn().GetLostFrames();
        if (lost > 0) {
            EXPECT_EQ(live.win.report.nLostFrames, lost);
            ASSERT_LT(attempt, 4) << "frames lost in every attempt";
            continue;
        }
        for (const std::string& m : live.win.messages) ADD_FAILURE() << m;
        EXPECT_TRUE(live.Songs() == expected);
        return;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordingPortAudio, ::testing::Values(16, 32),
                         [](const auto& info) { return info.param == 16 ? "Pcm16" : "Float32"; });
