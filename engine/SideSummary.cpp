#include "engine/SideSummary.h"

#include <algorithm>
#include <filesystem>

SideSummary SummarizeSide(const RecordingReport& report) {
    SideSummary side;
    for (const SongFileRecord& file : report.files) {
        const bool deletedMeanwhile =
            std::any_of(report.failures.begin(), report.failures.end(), [&](const auto& f) {
                return f.kind == FailureKind::FileRemoved && file.strPath == f.szPath;
            });
        if (!file.bRemoved && !deletedMeanwhile) side.files.push_back(file);
    }
    if (!side.files.empty()) {
        // A relative base name is relative to the folder the recording ran in.
        std::error_code ec;
        const std::filesystem::path first(side.files.front().strPath);
        const std::filesystem::path absolute = std::filesystem::absolute(first, ec);
        side.strFolder = (ec ? first : absolute).parent_path().string();
    }
    side.nRate = report.nRate;
    side.nClippedTotal = report.nClippedTotal;
    side.nLostFrames = report.nLostFrames;
    side.nOverflows = report.nOverflows;
    side.lostIn = report.lostIn;
    side.bLostInMore = report.bLostInMore;
    side.bAudioLost = report.nLostFrames > 0 || report.nOverflows > 0;
    side.bFailed = report.end != RecordingEnd::Stop && report.end != RecordingEnd::EndGap;
    return side;
}
