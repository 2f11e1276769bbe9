#include "split/SplitOptions.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <exception>
#include <ostream>
#include <string>
#include <utility>

#include "VellistoVersion.h"
#include "settings/Windows1252.h"

namespace {

const char kDescription[] =
    "Splits WAV recordings of record or tape sides into numbered song files (SideA1.wav,\n"
    "SideA2.wav, ...) at the gaps of near-silence between songs, exactly as a live recording\n"
    "of the same audio would, or (--cuts) exactly at the cuts of a label file or cue sheet.\n"
    "Input: 16-bit PCM or 32-bit float WAV, mono or stereo; \"-\" (with -o) reads a stream\n"
    "from standard input. Output: WAV, or lossless FLAC with tags (--format flac).";

const char kFooter[] =
    "Exit codes: 0 done, 1 an input or the destination failed (song files that exist, a\n"
    "cut list or track list that cannot be read, a full disk, a name another program took\n"
    "meanwhile) or audio above Gap Level followed End Gap, 2 bad options, out-of-range\n"
    "parameters or paths that would write over an input, a file the run reads, a song file\n"
    "or each other's songs, 128+n interrupted by signal n; with several inputs the worst.\n"
    "Options beside --preset override its values.";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A click-repair sensitivity by its word (any letter case) into *sensitivity (may be null);
// false for any other word.
bool SensitivityNamed(const std::string& text, ClickSensitivity* sensitivity) {
    static const std::pair<const char*, ClickSensitivity> kWords[] = {
        {"gentle", ClickSensitivity::Gentle},
        {"normal", ClickSensitivity::Normal},
        {"strong", ClickSensitivity::Strong}};
    const std::string word = Lower(text);
    for (const auto& [name, value] : kWords) {
        if (word != name) continue;
        if (sensitivity) *sensitivity = value;
        return true;
    }
    return false;
}

// "on"/"off" switch option (any letter case); anything else is a usage error.
CLI::Option* AddSwitch(CLI::App& app, const char* name, bool* value, bool* given,
                       const char* help) {
    return app
        .add_option_function<std::string>(
            name,
            [value, given](const std::string& text) {
                *value = Lower(text) == "on";
                *given = true;
            },
            help)
        ->check(
            [](const std::string& text) {
                const std::string word = Lower(text);
                return word == "on" || word == "off" ? std::string()
                                                     : "expected on or off, not " + text;
            },
            "")
        ->type_name("on|off");
}

CLI::Option* AddNumber(CLI::App& app, const char* name, double* value, bool* given,
                       const char* help, const char* unit) {
    return app
        .add_option_function<double>(
            name,
            [value, given](double v) {
                *value = v;
                *given = true;
            },
            help)
        ->type_name(unit);
}

// A number, or "auto" (any letter case) for *autoValue.
CLI::Option* AddNumberOrAuto(CLI::App& app, const char* name, double* value, bool* given,
                             bool* autoValue, const char* help, const char* unit) {
    return app
        .add_option_function<std::string>(
            name,
            [value, given, autoValue](const std::string& text) {
                *autoValue = Lower(text) == "auto";
                if (!*autoValue) {
                    *value = std::stod(text);
                    *given = true;
                }
            },
            help)
        ->check(
            [](const std::string& text) {
                if (Lower(text) == "auto") return std::string();
                try {
                    size_t used = 0;
                    std::stod(text, &used);
                    if (used == text.size()) return std::string();
                } catch (const std::exception&) {
                }
                return "expected a number or auto, not " + text;
            },
            "")
        ->type_name(unit);
}

}  // namespace

int ParseSplitOptions(int argc, const char* const* argv, SplitOptions* options, std::ostream& out,
                      std::ostream& err) {
    CLI::App app(kDescription, "vellisto-split");
    app.footer(kFooter);
    app.set_version_flag("--version", "vellisto-split " VELLISTO_VERSION);

    app.add_option("input", options->inputs,
                   "the WAV files to split, each as if alone; \"-\" is standard input")
        ->required()
        ->type_name("WAV");
    app.add_option("-o,--output", options->strOutput,
                   "base name of the song files (BASE.wav gives BASE1.wav, BASE2.wav, ...) or, "
                   "for several inputs, a folder; default: each input's folder and name")
        ->type_name("BASE");
    CLI::Option* gapSize =
        AddNumber(app, "--gap-size", &options->fGapSize, &options->bGapSizeGiven,
                  "seconds of near-silence that make a gap between songs, 0.01 to 5 (default 1.00)",
                  "SECONDS");
    CLI::Option* gapLevel = AddNumberOrAuto(
        app, "--gap-level", &options->fGapLevel, &options->bGapLevelGiven, &options->bGapLevelAuto,
        "level at or below which audio counts as silence, -6 to -144 dB; levels below -90.3 dB "
        "mean -90.3 (default -35); auto: measured on the side as --probe measures it, between "
        "the gaps' floor and the quietest passage inside songs (a file, not a stream)",
        "DB|auto");
    CLI::Option* minSong =
        AddNumber(app, "--min-song", &options->fMinSongSize, &options->bMinSongSizeGiven,
                  "seconds a song lasts at least before a gap may end it, 1 to 200 (default 30.01)",
                  "SECONDS");
    CLI::Option* endGap = AddNumberOrAuto(
        app, "--end-gap", &options->fEndGap, &options->bEndGapGiven, &options->bEndGapAuto,
        "seconds of near-silence that end the recording, 1 to 30 (default 7.01); auto: a second "
        "longer than the longest quiet stretch before the run-out (a file, not a stream)",
        "SECONDS|auto");
    CLI::Option* dcBlock = AddSwitch(app, "--dc-block", &options->bDCBlock, &options->bDCBlockGiven,
                                     "remove DC offset from the audio written (default on)");
    CLI::Option* smartGap =
        AddSwitch(app, "--smart-gap", &options->bSmartGap, &options->bSmartGapGiven,
                  "ignore clicks and crackle when looking for gaps (default on)");
    CLI::Option* preset =
        app.add_option("--preset", options->strPreset,
                       "take the parameters from this preset of the recorder (its presets file in "
                       "~/.local/share/Zelk/Vellistro, or the starting presets before it has one)")
            ->type_name("NAME")
            ->check([](const std::string& name) {
                return name.empty() ? std::string("a preset name is needed") : std::string();
            });
    app.add_option("--presets", options->strPresetsFile,
                   "read --preset from this presets file instead")
        ->type_name("FILE");
    CLI::Option* list = app.add_flag(
        "--list", options->bList,
        "dry run: list the songs and the gaps a split would give (and where End Gap ends "
        "the side), write no song file");
    CLI::Option* labels = app.add_option(
        "--labels", options->strLabels,
        "write a label file of the songs (start, end and name, tab-separated, in seconds)");
    labels->type_name("FILE");
    CLI::Option* cue = app.add_option("--cue", options->strCue,
                                      "write a cue sheet of the songs for the input WAV");
    cue->type_name("FILE");
    CLI::Option* songs =
        app.add_option("--songs", options->nSongs,
                       "the side holds N songs: split the N-1 longest gaps, at least --min-song "
                       "apart, each at its quietest Gap-Size part (End Gap does not end the "
                       "side; not a live split)")
            ->type_name("N")
            ->check(
                [](const std::string& text) {
                    return !text.empty() &&
                                   text.find_first_not_of("0123456789") == std::string::npos
                               ? std::string()
                               : "--songs expects a whole number, not " + text;
                },
                "")
            ->check(CLI::Range(1, 100000));
    CLI::Option* probe =
        app.add_flag("--probe", options->bProbe,
                     "measure the noise floor in the gaps and the quietest passages inside songs, "
                     "suggest --gap-level and --end-gap and list the songs they give; write "
                     "nothing")
            ->excludes(list)
            ->excludes(labels)
            ->excludes(cue)
            ->excludes(songs);
    CLI::Option* cuts =
        app.add_option("--cuts", options->strCuts,
                       "split at the cuts of this label file (start, end and title, tab-separated, "
                       "in seconds, as audio editors export them) or cue sheet (INDEX 01 of each "
                       "TRACK) instead of at gaps; the songs are named after its titles")
            ->type_name("FILE");
    // The cuts are the user's: nothing is detected and no sample is changed.
    for (CLI::Option* detection :
         {gapSize, gapLevel, minSong, endGap, dcBlock, smartGap, preset, songs, probe}) {
        cuts->excludes(detection);
    }
    CLI::Option* names =
        app.add_option("--names", options->strNames,
                       "the songs' titles from this track list, one a line (positions such as A1, "
                       "1. or 03 - and times such as 3:45 are left out); the songs are named "
                       "\"01 Title.wav\", ...; without --cuts the side is split into as many "
                       "songs as titles, as --songs does, or, where it gives their times, at the "
                       "quietest moment within 8 s of each")
            ->type_name("FILE");
    names->excludes(probe);
    app.add_option("--album", options->strAlbum,
                   "the album tag of FLAC song files (default: a cue sheet's TITLE)")
        ->type_name("TEXT");
    app.add_option("--artist", options->strArtist,
                   "the artist tag of FLAC song files (default: a cue sheet's PERFORMER)")
        ->type_name("TEXT");
    app.add_option_function<std::string>(
           "--format",
           [options](const std::string& text) { options->bFlac = Lower(text) == "flac"; },
           "song files as wav (default) or flac: lossless, with the title, track number, "
           "album and artist as tags (16-bit input only)")
        ->type_name("wav|flac")
        ->check(
            [](const std::string& text) {
                const std::string word = Lower(text);
                return word == "wav" || word == "flac" ? std::string()
                                                       : "expected wav or flac, not " + text;
            },
            "");
    std::string declick;
    app.add_flag("--declick{normal}", declick,
                 "repair the clicks of the song files written, as gently or strongly as "
                 "asked (gentle, normal or strong; default normal); the cuts are found on the "
                 "audio as it came. The summary and --list give the clicks per song")
        ->type_name("[gentle|normal|strong]")
        ->check(
            [](const std::string& text) {
                return SensitivityNamed(text, nullptr)
                           ? std::string()
                           : "expected gentle, normal or strong, not " + text;
            },
            "");
    app.add_option("-j,--jobs", options->nJobs, "split N inputs at once (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1, 256));
    app.add_flag("-f,--force", options->bForce,
                 "overwrite existing song files, label file and cue sheet, each only once the "
                 "run has written its replacement (never an input, a file the run reads, a "
                 "song file with a label file or cue sheet, or other recordings' files when the "
                 "base name ends in a digit)");
    app.add_flag("-q,--quiet", options->bQuiet,
                 "no progress bar, no summary and no notices: errors only");

    // "--declick strong" as well as "--declick=strong"; a word that is no sensitivity after it
    // is an input, never taken for one.
    std::vector<std::string> args;
    for (int k = argc - 1; k >= 1; --k) {
        std::string arg = argv[k];
        if (arg == "--declick" && !args.empty()) {
            if (SensitivityNamed(args.back(), nullptr)) {
                arg += "=" + args.back();
                args.pop_back();
            }
        }
        args.push_back(arg);
    }
    try {
        app.parse(std::move(args));
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        err << "vellisto-split: " << e.what() << "\n"
            << "Run with --help for more information.\n";
        return kExitUsage;
    }
    if (!declick.empty()) {
        options->bDeclick = SensitivityNamed(declick, &options->declick);
    }
    // Tags are UTF-8; an option typed in a terminal of the old code page is not.
    options->strAlbum = Utf8OrWindows1252(options->strAlbum);
    options->strArtist = Utf8OrWindows1252(options->strArtist);
    if ((!options->strCuts.empty() || !options->strNames.empty()) && options->inputs.size() > 1) {
        err << "vellisto-split: " << (options->strCuts.empty() ? "--names" : "--cuts")
            << " belongs to one side: give one input\n";
        return kExitUsage;
    }
    return -1;
}
