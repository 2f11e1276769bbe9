#include "engine/RecordingTexts.h"

#include <algorithm>
#include <cstdio>

namespace recording_texts {

const char kCaption[] = "Zelk Vellisto";
const char kErrorTitle[] = "ERROR";
const char kExistsTitle[] = "File Exists";

namespace {

template <typename... Args>
std::string Printf(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

std::string TimeLabel(const char* label, int64_t bytes, int bitsPerSample, int channels,
                      uint32_t rate) {
    const int64_t bits = bitsPerSample;
    const int64_t bytesPerSecond = bits * channels / 8 * rate;
    const int64_t bytesPerMinute = (bits * channels * 60 / 8) * rate;
    long long minutes = 0;
    long long seconds = 0;
    if (bytesPerSecond > 0 && bytesPerMinute > 0) {
        minutes = bytes / bytesPerMinute;
        seconds = bytes / bytesPerSecond - minutes * 60;
    }
    return Printf("%s  %02lld:%02lld", label, minutes, seconds);
}

}  // namespace

std::string UnsupportedFormatText(RecSetting setting, const RecSettings& settings) {
    // Bits and channels have no control in Custom Settings: only a preset brings other values.
    char text[512];
    switch (setting) {
        case RecSetting::SamplesPerSec:
            std::snprintf(text, sizeof text,
                          "Cannot record with a Sampling Rate of %u samples per second.\n"
                          "Only 11025, 22050, 44100 and 48000 can be recorded.\n"
                          "Please choose a Sampling Rate in the Customize settings window.\n",
                          static_cast<unsigned>(settings.nSamplesPerSec));
            break;
        case RecSetting::BitsPerSample:
            std::snprintf(text, sizeof text,
                          "Cannot record with %u bits per sample.\n"
                          "Only 16 bit and 24 bit (32-bit floating-point) samples can be "
                          "recorded.\n"
                          "The setting comes from a preset or the saved settings: please choose "
                          "another preset.\n",
                          static_cast<unsigned>(settings.wBitsPerSample));
            break;
        default:
            std::snprintf(text, sizeof text,
                          "Cannot record with %u channels.\n"
                          "Only 1 channel (mono) and 2 channels (stereo) can be recorded.\n"
                          "The setting comes from a preset or the saved settings: please choose "
                          "another preset.\n",
                          static_cast<unsigned>(settings.wChannels));
            break;
    }
    return text;
}

std::string RefusalText(const StartOutcome& outcome) {
    switch (outcome.refusal) {
        case StartRefusal::None:
        case StartRefusal::Declined:
            return {};
        case StartRefusal::NoBaseName:
            return "You need to enter a Base File Name.";
        case StartRefusal::NoMemory:
            return "Not enough memory to create the recording buffer.\n"
                   "Close some programs and try again.\n";
        case StartRefusal::NameTooLong:
            return "The file name is too long:\n" + outcome.strPath + "\n";
        case StartRefusal::FormatUnsupported: {
            RecSettings format;
            format.nSamplesPerSec = outcome.nRate;
            format.wBitsPerSample = outcome.nBits;
            format.wChannels = outcome.nChannels;
            return UnsupportedFormatText(outcome.setting, format);
        }
        case StartRefusal::NoDevice:
            return outcome.strDetail;
        case StartRefusal::DeviceFormat: {
            const bool rate48 = outcome.nRate == 48000;
            const bool float32 = outcome.nBits == 32;
            if (rate48 && float32) {
                return "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease "
                       "change one or both of these features in the \nCustomize settings "
                       "window.\n";
            }
            if (rate48) {
                return "Your sound card does not support 48 kHz recording.\nPlease change this "
                       "feature in the Customize settings window.\n";
            }
            if (float32) {
                return "Your sound card does not support 24 bit recording.\nPlease change this "
                       "feature in the Customize settings window.\n";
            }
            return outcome.strDetail;
        }
        case StartRefusal::DeviceOpen:
        case StartRefusal::DeviceBuffers:
        case StartRefusal::DeviceStart:
        case StartRefusal::FileNotCreatable:
            return outcome.strDetail;
        case StartRefusal::ThreadNotStarted:
            return "Cannot start the recording thread.\n" + outcome.strDetail + "\n";
    }
    return {};
}

std::string RefusalTitle(StartRefusal refusal) {
    return refusal == StartRefusal::NoBaseName ? "Missing Destination" : kErrorTitle;
}

std::string OverwriteQuestion(const ExistingSongs& existing) {
    // The list tells a longer earlier take, whose later files a shorter one leaves behind.
    std::string list;
    for (const std::string& name : existing.shown) list += (list.empty() ? "" : ", ") + name;
    const size_t more =
        existing.numbers.size() - std::min(existing.numbers.size(), existing.shown.size());
    if (more > 0) {
        list += " and " + std::to_string(more) + " more (" +
                std::to_string(existing.numbers.size()) + " in all)";
    }
    return Printf(
               "The file, %s, exists.\nIf you will be recording %ld song(s),\nthis file and "
               "possibly any sequentially \nnumbered files will be overwritten.\n",
               existing.strLowest.c_str(), existing.nLowest) +
           (list.empty() ? "" : "\nNumbered files that exist: " + list + ".\n") +
           "\nDo you want to overwrite the file(s)?";
}

std::string FailureText(const RecordingFailure& failure) {
    switch (failure.kind) {
        case FailureKind::Writer:
        case FailureKind::DeviceStop:
            return failure.szText;
        case FailureKind::NextNameTooLong:
            return Printf("The name of song file %d is too long:\n%s\n", failure.nNumber,
                          failure.szText);
        case FailureKind::FileRemoved:
            return Printf(
                "The song file %s was removed while it was being recorded (the file or its "
                "folder was deleted).\nThe recording has been stopped.\n",
                failure.szPath);
        case FailureKind::NoAudio:
            return Printf(
                "No audio arrived from the sound card for %d seconds.\n"
                "The recording has been stopped; the song files are finished.\n",
                failure.nNumber);
        case FailureKind::DeviceFailed:
            return Printf(
                "The sound card failed during the recording: %s\n"
                "The recording has been stopped; the song files are finished.\n",
                failure.szText);
    }
    return {};
}

std::string LostAudioText(const RecordingReport& report) {
    if (report.nLostFrames == 0 && report.nOverflows == 0) return {};
    const double rate = report.nRate > 0 ? report.nRate : 1;
    const auto frames = static_cast<unsigned long long>(report.nLostFrames);
    const auto overruns = static_cast<unsigned long long>(report.nOverflows);
    std::string text;
    if (frames > 0 && overruns > 0) {
        text = Printf(
            "Audio was lost: the sound card delivered %llu frame(s) (%.3f seconds) that could "
            "not be taken in time,\nand it reported %llu overrun(s) of unknown length.",
            frames, static_cast<double>(frames) / rate, overruns);
    } else if (frames > 0) {
        text = Printf(
            "Audio was lost: the sound card delivered %llu frame(s) (%.3f seconds) that could "
            "not be taken in time.",
            frames, static_cast<double>(frames) / rate);
    } else {
        // The host said audio was lost, not how much.
        text = Printf(
            "Audio was lost: the sound card reported %llu overrun(s); how much audio each one "
            "lost is not known.",
            overruns);
    }
    text += "\nAffected song file(s):";
    for (size_t i = 0; i < report.lostIn.size(); ++i) {
        text += (i == 0 ? " " : ", ") + report.lostIn[i];
    }
    if (report.bLostInMore) text += " and later files";
    text += "\n";
    return text;
}

std::vector<std::string> EndMessages(const RecordingReport& report) {
    std::vector<std::string> messages;
    if (!report.failures.empty()) {
        std::string text;
        for (const RecordingFailure& f : report.failures) {
            text += (text.empty() ? "" : "\n") + FailureText(f);
        }
        messages.push_back(text);
    }
    if (!report.strDeviceCloseError.empty()) messages.push_back(report.strDeviceCloseError);
    if (!report.strWriterCloseError.empty()) messages.push_back(report.strWriterCloseError);
    if (std::string lost = LostAudioText(report); !lost.empty()) messages.push_back(lost);
    if (!report.strRemoveFailedPath.empty()) {
        messages.push_back("Cannot delete the short last song file " + report.strRemoveFailedPath +
                           ".\n" + report.strRemoveFailedReason + ".\n");
    }
    return messages;
}

std::string NothingHeardText(const RecordingReport& report) {
    if (!report.bNothingHeard) return {};
    return "Nothing above Gap Level was heard for " + std::to_string(report.nEndGapSeconds) +
           " s, so the recording ended. Check the input and its level, or lengthen End Gap.";
}

std::string EarlierTakeText(const RecordingReport& report) {
    if (report.nEarlierLeft == 0) return {};
    std::string list;
    for (const std::string& name : report.earlierLeft) list += (list.empty() ? "" : ", ") + name;
    if (report.nEarlierLeft > report.earlierLeft.size()) {
        list += " and " + std::to_string(report.nEarlierLeft - report.earlierLeft.size()) +
                " more (" + std::to_string(report.nEarlierLeft) + " in all)";
    }
    return "Files of an earlier take remain after this take's last song: " + list +
           ".\nThey are not part of this recording and were left as they were.";
}

std::string CurFileLabel(const std::string& shownName) { return "Cur File: " + shownName; }

std::string ClippedLabel(int64_t clipped) {
    return Printf("Clipped Pts: %lld", static_cast<long long>(clipped));
}

std::string SongTimeLabel(int64_t bytes, int bitsPerSample, int channels, uint32_t rate) {
    return TimeLabel("Song Time", bytes, bitsPerSample, channels, rate);
}

std::string TotalTimeLabel(int64_t bytes, int bitsPerSample, int channels, uint32_t rate) {
    return TimeLabel("Total Time", bytes, bitsPerSample, channels, rate);
}

std::string RecordingCaption(const std::string& shownName) { return shownName + ": " + kCaption; }

std::string RecordingWarning(const RecordingProgress& progress) {
    std::string text;
    if (progress.bNoSoundYet) text = "No sound yet: is the source playing into the chosen input?";
    if (progress.nRecentClips > 0) {
        if (!text.empty()) text += "  ";
        text += "Clipping: " + std::to_string(progress.nRecentClips) +
                (progress.nRecentClips == 1 ? " sample" : " samples") + " in the last " +
                std::to_string(RecordingProgress::kClipWindowSeconds) +
                " seconds, lower the input level";
    }
    return text;
}

std::string DoneCaption() { return std::string("DONE: ") + kCaption; }

std::string SongLength(int64_t frames, uint32_t rate) {
    const long long seconds = rate > 0 && frames > 0 ? frames / rate : 0;
    return Printf("%lld:%02lld", seconds / 60, seconds % 60);
}

namespace {
std::string FilesWritten(const SideSummary& side) {
    const size_t n = side.files.size();
    return n == 1 ? "1 song file written" : std::to_string(n) + " song files written";
}
}  // namespace

std::string SideTitle(const SideSummary& side) {
    if (side.bFailed) return "Recording stopped";
    if (side.bAudioLost) return "Side done, audio lost";
    return "Side done";
}

std::string SideNotificationBody(const SideSummary& side) {
    if (side.bFailed) {
        return "The recording stopped before the end of the side: " + FilesWritten(side) +
               ". Vellisto's window says why.";
    }
    if (side.bAudioLost) {
        return "The side is done, but audio was lost: " + FilesWritten(side) +
               ". Vellisto's window names the files it is missing from.";
    }
    return "The side is done: " + FilesWritten(side) + ".";
}

std::string SummaryCaption(const SideSummary& side) { return SideTitle(side) + ": " + kCaption; }

std::string SummaryHeading(const SideSummary& side) {
    const size_t n = side.files.size();
    return (n == 1 ? std::string("1 song file") : std::to_string(n) + " song files") + " in " +
           side.strFolder + ":";
}

std::string SummaryClipped(const SideSummary& side) {
    if (side.nClippedTotal == 0) return "No samples clipped.";
    return Printf("Clipped samples: %lld (lower the input level for the next side).",
                  static_cast<long long>(side.nClippedTotal));
}

std::string OpenFolderFailedText(const SideSummary& side) {
    return "No file manager could be started to show the folder.\nThe song files are in " +
           side.strFolder + ".";
}

std::string SummaryLost(const SideSummary& side) {
    if (!side.bAudioLost) return "No audio lost.";
    std::string text = "Audio lost: ";
    if (side.nLostFrames > 0) {
        const double rate = side.nRate > 0 ? side.nRate : 1;
        text += Printf("%.3f s", static_cast<double>(side.nLostFrames) / rate);
    }
    if (side.nOverflows > 0) {
        text += Printf("%s%llu overrun(s) of unknown length", side.nLostFrames > 0 ? " and " : "",
                       static_cast<unsigned long long>(side.nOverflows));
    }
    for (size_t i = 0; i < side.lostIn.size(); ++i) {
        text += (i == 0 ? ", in " : ", ") + side.lostIn[i];
    }
    if (side.bLostInMore) text += " and later files";
    return text + ".";
}

}  // namespace recording_texts
