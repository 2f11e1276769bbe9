// The recorder's words for the engine's values: the refusals of Record, the overwrite question,
// the messages a recording ends with, the Recording Info labels, the warnings, the end-of-side
// summary and notification, and the captions. Every front (the window, the splitter's terminal,
// the soak) says these through the functions here and nowhere else builds, compares or takes
// apart such a text.
//
// Plain functions of values; any thread that may allocate (never the recording thread).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/RecordingOutcome.h"
#include "engine/SideSummary.h"

namespace recording_texts {

// The program's name as the window's caption.
extern const char kCaption[];
// The title of every error box.
extern const char kErrorTitle[];
// The title of the overwrite question.
extern const char kExistsTitle[];

// Why Record did not start ("" for None and Declined, which say nothing).
std::string RefusalText(const StartOutcome& outcome);
// What Record says about a format field it cannot record right, naming the setting and its
// value.
std::string UnsupportedFormatText(RecSetting setting, const RecSettings& settings);
// Its title: "Missing Destination" for a missing base name, else kErrorTitle.
std::string RefusalTitle(StartRefusal refusal);

// The overwrite question about the lowest-numbered song file that exists.
std::string OverwriteQuestion(const ExistingSongs& existing);

// One failure of the recording thread.
std::string FailureText(const RecordingFailure& failure);
// The messages a finished recording ends with, in the order they are shown: the thread's
// failures (one message), the device's and the last file's failed close, the lost audio and
// a trailing file of silence that could not be deleted. Empty when all went well.
std::vector<std::string> EndMessages(const RecordingReport& report);
// The lost-audio message alone ("" when nothing was lost).
std::string LostAudioText(const RecordingReport& report);
// Why a recording that heard nothing ended ("" when it heard something), an information.
std::string NothingHeardText(const RecordingReport& report);
// The files of an earlier take beyond this one's last song ("" when there are none).
std::string EarlierTakeText(const RecordingReport& report);

// The Recording Info labels.
std::string CurFileLabel(const std::string& shownName);
std::string ClippedLabel(int64_t clipped);
// "Song Time  mm:ss" and "Total Time  mm:ss" for bytes of the given format.
std::string SongTimeLabel(int64_t bytes, int bitsPerSample, int channels, uint32_t rate);
std::string TotalTimeLabel(int64_t bytes, int bitsPerSample, int channels, uint32_t rate);
// What the window warns of while recording, from a report's facts: no sound yet, clipping in
// the last seconds. Empty when there is nothing to warn of.
std::string RecordingWarning(const RecordingProgress& progress);

// A song's length as "m:ss" (minutes as many as it takes), whole seconds of its frames.
std::string SongLength(int64_t frames, uint32_t rate);
// How a side ended in a few words ("Side done", ...): the summary's and the notification's
// title.
std::string SideTitle(const SideSummary& side);
// The desktop notification's text.
std::string SideNotificationBody(const SideSummary& side);
// The end-of-side summary: its caption, the line above the list of files, the clipped samples
// and the lost audio.
std::string SummaryCaption(const SideSummary& side);
std::string SummaryHeading(const SideSummary& side);
std::string SummaryClipped(const SideSummary& side);
std::string SummaryLost(const SideSummary& side);
// Open Folder found no program to show the folder with.
std::string OpenFolderFailedText(const SideSummary& side);

// The caption of a minimised window: while recording it names the current song file.
std::string RecordingCaption(const std::string& shownName);
std::string DoneCaption();

}  // namespace recording_texts
