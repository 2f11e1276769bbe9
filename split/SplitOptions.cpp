#include "SplitOptions.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <ostream>
#include <string>

#include "VellistoVersion.h"

namespace {

const char kDescription[] =
    "Splits a WAV recording of a record or tape side into numbered song files (SideA1.wav,\n"
    "SideA2.wav, ...) at the gaps of near-silence between songs, exactly as a live recording\n"
    "of the same audio would. Input: 16-bit PCM or 32-bit float WAV, mono or stereo.";

const char kFooter[] =
    "Exit codes: 0 done, 1 the input or the destination failed, 2 bad options or out-of-range\n"
    "parameters, 128+n interrupted by signal n. Options beside --preset override its values.";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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

}  // namespace

int ParseSplitOptions(int argc, const char* const* argv, SplitOptions* options, std::ostream& out,
                      std::ostream& err) {
    CLI::App app(kDescription, "vellisto-split");
    app.footer(kFooter);
    app.set_version_flag("--version", "vellisto-split " VELLISTO_VERSION);

    app.add_option("input", options->strInput, "the WAV file to split")->required();
    app.add_option("-o,--output", options->strOutput,
                   "base name of the song files (BASE.wav gives BASE1.wav, BASE2.wav, ...) or a "
                   "folder; default: the input's folder and name")
        ->type_name("BASE");
    AddNumber(app, "--gap-size", &options->fGapSize, &options->bGapSizeGiven,
              "seconds of near-silence that make a gap between songs (default 1.00)", "SECONDS");
    AddNumber(app, "--gap-level", &options->fGapLevel, &options->bGapLevelGiven,
              "level at or below which audio counts as silence (default -35)", "DB");
    AddNumber(app, "--min-song", &options->fMinSongSize, &options->bMinSongSizeGiven,
              "seconds a song lasts at least before a gap may end it (default 30.01)", "SECONDS");
    AddNumber(app, "--end-gap", &options->fEndGap, &options->bEndGapGiven,
              "seconds of near-silence that end the recording (default 7.01)", "SECONDS");
    AddSwitch(app, "--dc-block", &options->bDCBlock, &options->bDCBlockGiven,
              "remove DC offset from the audio written (default on)");
    AddSwitch(app, "--smart-gap", &options->bSmartGap, &options->bSmartGapGiven,
              "ignore clicks and crackle when looking for gaps (default on)");
    app.add_option("--preset", options->strPreset,
                   "take the parameters from this preset of the recorder (its presets file in "
                   "~/.local/share/Zelk/Vellistro, or the starting presets before it has one)")
        ->type_name("NAME");
    app.add_option("--presets", options->strPresetsFile,
                   "read --preset from this presets file instead")
        ->type_name("FILE");
    app.add_flag("-f,--force", options->bForce, "overwrite existing song files");
    app.add_flag("-q,--quiet", options->bQuiet, "no progress bar and no summary");

    try {
        app.parse(argc, argv);
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
    return -1;
}
