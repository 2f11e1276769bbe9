// The command line of vellisto-split: what to split, where the song files go and the detection
// parameters, in the units a person types (seconds, dB) rather than trackbar positions.
// Parsed once on the main thread.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "take/ClickRepair.h"

struct SplitOptions {
    // The inputs as given ("-" is standard input), and the one a CSplitter splits.
    std::vector<std::string> inputs;
    std::string strInput;
    // Base name of the song files ("" = the input's own folder and name); may name a folder.
    std::string strOutput;

    // The four detection parameters, applied only when given (b...Given); otherwise a preset's or
    // a fresh recorder's values hold.
    double fGapSize = 1.00;       // seconds
    double fGapLevel = -35.0;     // dBFS
    double fMinSongSize = 30.01;  // seconds
    double fEndGap = 7.01;        // seconds
    bool bGapSizeGiven = false;
    bool bGapLevelGiven = false;
    // "auto": measured on the side as the probe measures it, before it is split.
    bool bGapLevelAuto = false;
    bool bEndGapAuto = false;
    bool bMinSongSizeGiven = false;
    bool bEndGapGiven = false;

    bool bDCBlock = true;
    bool bSmartGap = true;
    bool bDCBlockGiven = false;
    bool bSmartGapGiven = false;

    // Name of a preset ("" = none), in the recorder's presets file or the one named.
    std::string strPreset;
    std::string strPresetsFile;  // "" = the recorder's, in the user's data folder

    bool bForce = false;  // overwrite existing song files
    bool bQuiet = false;  // no progress bar and no summary

    bool bList = false;     // dry run: the songs and gaps a split would give, no song file
    std::string strLabels;  // label file to write ("" = none)
    std::string strCue;     // cue sheet to write ("" = none)
    bool bProbe = false;    // measure the noise floor and suggest settings instead
    int nSongs = 0;         // the side holds this many songs (0 = find them by the gaps)
    int nJobs = 0;          // inputs split at once (0 = one per core)

    // Split at the cuts of this label file or cue sheet instead of at detected gaps ("" = find
    // the gaps).
    std::string strCuts;
    // The songs' titles from this track list, one a line ("" = none, or the cuts' titles).
    std::string strNames;
    bool bFlac = false;               // song files as FLAC (with tags) instead of WAV
    std::string strAlbum, strArtist;  // FLAC tags ("" = a cue sheet's, or none)
    // Repair the clicks of the song files written (their cuts are found on the audio as it came).
    bool bDeclick = false;
    ClickSensitivity declick = ClickSensitivity::Normal;

    // Tests only: the most sample bytes a song file holds before the song goes on in the next
    // (0 = the recorder's limit, just under 4 GiB).
    uint64_t nMaxSongBytes = 0;
};

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // bad input, unwritable destination, a failure while writing
constexpr int kExitUsage = 2;     // bad command line, out-of-range parameter, unknown preset
constexpr int kExitSignal = 128;  // + the signal's number, when interrupted

// Parses argv into *options. Returns -1 to go on, or the exit code to end with (after --help,
// printed to out, or a usage error, printed to err).
int ParseSplitOptions(int argc, const char* const* argv, SplitOptions* options, std::ostream& out,
                      std::ostream& err);
