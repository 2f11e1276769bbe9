// The recorder's words for every value the engine reports: each refusal, each failure, the
// overwrite question, the end messages in their order, the labels and captions, word for word.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/RecordingTexts.h"

namespace texts = recording_texts;

namespace {

StartOutcome Refusal(StartRefusal refusal, std::string path = {}, std::string detail = {},
                     uint32_t rate = 0, uint16_t bits = 0) {
    StartOutcome o;
    o.refusal = refusal;
    o.strPath = std::move(path);
    o.strDetail = std::move(detail);
    o.nRate = rate;
    o.nBits = bits;
    return o;
}

RecordingFailure Failure(FailureKind kind, int number, const char* path, const char* text) {
    RecordingFailure f;
    f.kind = kind;
    f.nNumber = number;
    std::snprintf(f.szPath, sizeof f.szPath, "%s", path);
    std::snprintf(f.szText, sizeof f.szText, "%s", text);
    return f;
}

}  // namespace

TEST(RecordingTexts, EveryRefusalHasItsText) {
    const std::string settings =
        "recording.\nPlease change this feature in the Customize settings window.\n";
    const std::string device = "Sorry, sound card does not support this RECORD WAV format.\n";
    const struct {
        StartOutcome outcome;
        std::string text, title;
    } cases[] = {
        {Refusal(StartRefusal::Declined), "", "ERROR"},
        {Refusal(StartRefusal::NameTooLong, "/t/x.wav"), "The file name is too long:\n/t/x.wav\n",
         "ERROR"},
        {Refusal(StartRefusal::DeviceFormat, "", device, 48000, 32),
         "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease change one or "
         "both of these features in the \nCustomize settings window.\n",
         "ERROR"},
        {Refusal(StartRefusal::DeviceFormat, "", device, 48000, 16),
         "Your sound card does not support 48 kHz " + settings, "ERROR"},
        {Refusal(StartRefusal::DeviceFormat, "", device, 44100, 32),
         "Your sound card does not support 24 bit " + settings, "ERROR"},
        {Refusal(StartRefusal::DeviceFormat, "", device, 22050, 16), device, "ERROR"},
        {Refusal(StartRefusal::NoDevice, "", "none said\n"), "none said\n", "ERROR"},
        {Refusal(StartRefusal::FileNotCreatable, "/t/A1.wav", "writer said\n"), "writer said\n",
         "ERROR"},
        {Refusal(StartRefusal::ThreadNotStarted, "", "Resource temporarily unavailable"),
         "Cannot start the recording thread.\nResource temporarily unavailable\n", "ERROR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.outcome.refusal));
        EXPECT_EQ(texts::RefusalText(c.outcome), c.text);
        EXPECT_EQ(texts::RefusalTitle(c.outcome.refusal), c.title);
    }
    // A format field the analyser would misread, named with its value.
    StartOutcome format = Refusal(StartRefusal::FormatUnsupported, "", "", 44100, 24);
    format.nChannels = 2;
    format.setting = RecSetting::BitsPerSample;
    EXPECT_EQ(texts::RefusalText(format),
              "Cannot record with 24 bits per sample.\nOnly 16 bit and 24 bit (32-bit "
              "floating-point) samples can be recorded.\nThe setting comes from a preset or the "
              "saved settings: please choose another preset.\n");
    format.setting = RecSetting::Channels;
    format.nChannels = 6;
    EXPECT_EQ(texts::RefusalText(format),
              "Cannot record with 6 channels.\nOnly 1 channel (mono) and 2 channels (stereo) can "
              "be recorded.\nThe setting comes from a preset or the saved settings: please choose "
              "another preset.\n");
    format.setting = RecSetting::SamplesPerSec;
    format.nRate = 96000;
    EXPECT_EQ(texts::RefusalText(format),
              "Cannot record with a Sampling Rate of 96000 samples per second.\nOnly 11025, 22050, "
              "44100 and 48000 can be recorded.\nPlease choose a Sampling Rate in the Customize "
              "settings window.\n");

    ExistingSongs existing;
    existing.nLowest = 3;
    existing.strLowest = "/t/SideA3.wav";
    EXPECT_EQ(
        texts::OverwriteQuestion(existing),
        "The file, /t/SideA3.wav, exists.\nIf you will be recording 3 song(s),\nthis file and "
        "possibly any sequentially \nnumbered files will be overwritten.\n\nDo you want to "
        "overwrite the file(s)?");
}

TEST(RecordingTexts, EveryFailureAndTheEndMessagesInTheirOrder) {
    const std::string finished = "\nThe recording has been stopped; the song files are finished.\n";
    const struct {
        RecordingFailure failure;
        std::string text;
    } cases[] = {
        {Failure(FailureKind::Writer, 2, "/t/A2.wav", "Cannot write to /t/A2.wav.\nNo space.\n"),
         "Cannot write to /t/A2.wav.\nNo space.\n"},
        {Failure(FailureKind::NextNameTooLong, 12, "", "/t/xxx12.wav"),
         "The name of song file 12 is too long:\n/t/xxx12.wav\n"},
        {Failure(FailureKind::FileRemoved, 1, "/t/A1.wav", ""),
         "The song file /t/A1.wav was removed while it was being recorded (the file or its "
         "folder was deleted).\nThe recording has been stopped.\n"},
        {Failure(FailureKind::NoAudio, 10, "", ""),
         "No audio arrived from the sound card for 10 seconds." + finished},
        {Failure(FailureKind::DeviceFailed, 0, "", "unplugged"),
         "The sound card failed during the recording: unplugged" + finished},
        {Failure(FailureKind::DeviceStop, 0, "", "stop said\n"), "stop said\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.failure.kind));
        EXPECT_EQ(texts::FailureText(c.failure), c.text);
    }

    RecordingReport report;
    report.bValid = true;
    EXPECT_TRUE(texts::EndMessages(report).empty());
    // Everything at once: the thread's failures in one message, then the closes, the lost audio
    // and the file that could not be deleted.
    report.failures = {cases[0].failure, cases[5].failure};
    report.strDeviceCloseError = "close said\n";
    report.strWriterCloseError = "writer close said\n";
    report.nRate = 44100;
    report.nLostFrames = 441;
    report.nOverflows = 2;
    report.lostIn = {"A1.wav", "A3.wav"};
    report.bLostInMore = true;
    report.strRemoveFailedPath = "/t/A4.wav";
    report.strRemoveFailedReason = "Is a directory";
    const std::vector<std::string> want = {
        cases[0].text + "\n" + cases[5].text, "close said\n", "writer close said\n",
        "Audio was lost: the sound card delivered 441 frame(s) (0.010 seconds) that could not be "
        "taken in time,\nand it reported 2 overrun(s) of unknown length.\nAffected song file(s): "
        "A1.wav, A3.wav and later files\n",
        "Cannot delete the short last song file /t/A4.wav.\nIs a directory.\n"};
    EXPECT_EQ(texts::EndMessages(report), want);

    // The three ways lost audio is told.
    report.lostIn = {"A1.wav"};
    report.bLostInMore = false;
    report.nOverflows = 0;
    EXPECT_EQ(texts::LostAudioText(report),
              "Audio was lost: the sound card delivered 441 frame(s) (0.010 seconds) that could "
              "not be taken in time.\nAffected song file(s): A1.wav\n");
    report.nLostFrames = 0;
    report.nOverflows = 2;
    EXPECT_EQ(texts::LostAudioText(report),
              "Audio was lost: the sound card reported 2 overrun(s); how much audio each one lost "
              "is not known.\nAffected song file(s): A1.wav\n");
    report.nOverflows = 0;
    EXPECT_EQ(texts::LostAudioText(report), "");
}

// The time labels; the window's own test reads the other labels and the captions.
TEST(RecordingTexts, TimeLabels) {
    // 44,100 per second, 16-bit stereo: 10,584,000 bytes a minute.
    EXPECT_EQ(texts::SongTimeLabel(10760400, 16, 2, 44100), "Song Time  01:01");
    EXPECT_EQ(texts::TotalTimeLabel(10760400 * 2, 16, 2, 44100), "Total Time  02:02");
    // Float recordings past two hours (2^31 bytes in 101 minutes at 352,800 bytes a second).
    EXPECT_EQ(texts::TotalTimeLabel(352800LL * (125 * 60 + 30), 32, 2, 44100),
              "Total Time  125:30");
    EXPECT_EQ(texts::SongTimeLabel(352800L * 30, 32, 2, 44100), "Song Time  00:30");
    EXPECT_EQ(texts::TotalTimeLabel(1000, 16, 2, 0), "Total Time  00:00");
}

TEST(RecordingTexts, WarningsWhileRecording) {
    RecordingProgress p;
    EXPECT_EQ(texts::RecordingWarning(p), "");
    // Each warning alone is read word for word in the window's test; here both at once, and
    // one clip in the singular.
    p.bNoSoundYet = 1;
    p.nRecentClips = 1;
    EXPECT_EQ(texts::RecordingWarning(p),
              "No sound yet: is the source playing into the chosen input?  Clipping: 1 sample in "
              "the last 3 seconds, lower the input level");
}

namespace {
SongFileRecord Song(int number, int64_t frames, bool removed = false) {
    SongFileRecord f;
    f.nNumber = number;
    f.strPath = "/music/tape/SideA" + std::to_string(number) + ".wav";
    f.strShown = "SideA" + std::to_string(number) + ".wav";
    f.nFrames = frames;
    f.bRemoved = removed;
    return f;
}
}  // namespace

// What a side kept: the trailing silence End Gap deleted and a file someone deleted meanwhile
// are not listed; the end decides the title of the summary and of the notification.
TEST(SideSummary, ListsTheFilesKeptAndSaysHowTheSideEnded) {
    RecordingReport report;
    report.nRate = 44100;
    report.end = RecordingEnd::EndGap;
    report.files = {Song(1, 44100 * 61), Song(2, 44100 * 59 + 44099), Song(3, 100, true)};
    report.nClippedTotal = 7;
    SideSummary side = SummarizeSide(report);
    ASSERT_EQ(side.files.size(), 2u);
    EXPECT_EQ(side.strFolder, "/music/tape");
    EXPECT_EQ(texts::SideTitle(side), "Side done");
    EXPECT_EQ(texts::SideNotificationBody(side), "The side is done: 2 song files written.");
    EXPECT_EQ(texts::SummaryHeading(side), "2 song files in /music/tape:");
    EXPECT_EQ(texts::SummaryClipped(side),
              "Clipped samples: 7 (lower the input level for the next side).");
    EXPECT_EQ(texts::SummaryLost(side), "No audio lost.");

    report.end = RecordingEnd::FileRemoved;
    report.failures = {Failure(FailureKind::FileRemoved, 2, "/music/tape/SideA2.wav", "")};
    report.nClippedTotal = 0;
    report.nLostFrames = 11025;
    report.nOverflows = 2;
    report.lostIn = {"SideA1.wav", "SideA2.wav"};
    report.bLostInMore = true;
    side = SummarizeSide(report);
    ASSERT_EQ(side.files.size(), 1u);
    EXPECT_EQ(side.files[0].strShown, "SideA1.wav");
    EXPECT_EQ(texts::SideTitle(side), "Recording stopped");
    EXPECT_EQ(texts::SummaryHeading(side), "1 song file in /music/tape:");
    EXPECT_EQ(texts::SummaryClipped(side), "No samples clipped.");
    EXPECT_EQ(texts::SummaryLost(side),
              "Audio lost: 0.250 s and 2 overrun(s) of unknown length, in SideA1.wav, "
              "SideA2.wav and later files.");

    report.end = RecordingEnd::Stop;
    report.nLostFrames = 0;
    report.lostIn = {"SideA1.wav"};
    report.bLostInMore = false;
    side = SummarizeSide(report);
    EXPECT_EQ(texts::SideTitle(side), "Side done, audio lost");
    EXPECT_EQ(texts::SummaryLost(side),
              "Audio lost: 2 overrun(s) of unknown length, in SideA1.wav.");
}

TEST(SideSummary, SongLengthsInWholeSeconds) {
    const struct {
        int64_t frames;
        uint32_t rate;
        const char* text;
    } cases[] = {
        {0, 44100, "0:00"},          {44099, 44100, "0:00"},           {44100 * 59, 44100, "0:59"},
        {48000 * 60, 48000, "1:00"}, {11025LL * 3725, 11025, "62:05"}, {1000, 0, "0:00"}};
    for (const auto& c : cases) EXPECT_EQ(texts::SongLength(c.frames, c.rate), c.text) << c.frames;
}
