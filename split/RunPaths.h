// Where a run's files go, decided for every input before anything is written: the base each
// input's song files are named from, and the check that no file the run writes is one of its
// inputs and that no two inputs write a song file of the same name.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

struct SplitOptions;

// A name that ends in .wav in any letter case.
bool HasWavExtension(std::string_view name);
// The song files' extension: ".wav", or ".flac" with --format flac.
const char* SongExtension(const SplitOptions& options);

// The base path input's song files are named from (-o, a folder given by -o, or the input
// itself; the song files' extension added to a name without one, and put in place of an input's
// own with --format flac). "" with *error set when there is none or -o names files of another
// type.
std::string SongBase(const SplitOptions& options, const std::string& input, std::string* error);

// Refuses, naming both, two inputs whose song files would share a name, and a song file, -o,
// --labels or --cue path that is one of the inputs; --labels and --cue refuse an existing file
// unless --force, and a WAV file always. Returns -1 to go on, or kExitUsage after saying why
// on err.
int CheckRunPaths(const SplitOptions& options, std::ostream& err);
