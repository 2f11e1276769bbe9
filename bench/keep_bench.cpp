// One keep of a long side, for bench/keep_bench.sh to time against cat of the same bytes:
//
//   keep_bench split SIDE.wav SECONDS   cuts a side WAV every SECONDS into SIDE1.wav, SIDE2.wav...
//   keep_bench recut SIDE.wav SHIFT     moves every cut of that take by SHIFT seconds (may be
//                                       negative) and keeps it under the same names
//   keep_bench flac SIDE.wav            writes that take as FLAC songs (SIDE 1.flac, ...) beside
//                                       its WAV songs, which stay
//
// Prints the songs written and their bytes; exit 1 with the reason when the keep fails.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/SongFileName.h"
#include "take/Keep.h"
#include "take/Take.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: keep_bench split|recut|flac SIDE.wav [SECONDS]\n");
        return 2;
    }
    const std::string mode = argv[1], side = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 0;
    const TakeOpening opening = OpenTake(side);
    if (!opening.Ok()) {
        std::fprintf(stderr, "keep_bench: %s\n", DescribeTakeRefusal(opening).c_str());
        return 1;
    }
    Take take = opening.take;
    // The FLAC songs go beside the WAV songs, which stay for the next round.
    if (mode == "flac") take.bSongFiles = false;
    const double rate = take.format.nSamplesPerSec;
    KeepPlan plan;
    if (mode == "split") {
        for (double at = seconds; at * rate < take.nFrames; at += seconds) {
            plan.cuts.push_back(static_cast<uint64_t>(at * rate));
        }
    } else {
        for (uint64_t cut : take.cuts) {
            plan.cuts.push_back(static_cast<uint64_t>(static_cast<double>(cut) + seconds * rate));
        }
    }
    const CSongFileName names(side);
    const std::string stem(FileNamePart(names.Stem()));
    for (size_t k = 0; k <= plan.cuts.size(); ++k) {
        plan.titles.push_back("Song " + std::to_string(k + 1));
        plan.fileNames.push_back(
            mode == "flac" ? stem + " " + std::to_string(k + 1) + ".flac"
                           : std::string(FileNamePart(names.Name(static_cast<long>(k) + 1))));
    }
    if (mode == "flac") plan.format = KeepFormat::Flac;
    const KeepOutcome kept = KeepTake(take, plan);
    if (!kept.Ok()) {
        std::fprintf(stderr, "keep_bench: %s\n", DescribeKeepOutcome(kept).c_str());
        return 1;
    }
    std::printf("%zu songs, %llu frames\n", kept.files.size(),
                static_cast<unsigned long long>(take.nFrames));
    return 0;
}
