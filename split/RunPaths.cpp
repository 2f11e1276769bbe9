#include "split/RunPaths.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "engine/SongFileName.h"
#include "split/SplitOptions.h"

namespace fs = std::filesystem;

bool HasWavExtension(std::string_view name) {
    return name.size() >= 4 && strncasecmp(name.data() + name.size() - 4, ".wav", 4) == 0;
}

const char* SongExtension(const SplitOptions& options) { return options.bFlac ? ".flac" : ".wav"; }

namespace {

bool HasSongExtension(const SplitOptions& options, std::string_view name) {
    const std::string_view ext = SongExtension(options);
    return name.size() >= ext.size() &&
           strncasecmp(name.data() + name.size() - ext.size(), ext.data(), ext.size()) == 0;
}

std::string WrongExtension(const SplitOptions& options) {
    return "-o " + options.strOutput + ": the song files are " +
           (options.bFlac ? "FLAC files; name them .flac" : "WAV files; name them .wav");
}

}  // namespace

std::string SongBase(const SplitOptions& options, const std::string& input, std::string* error) {
    std::string base = options.strOutput.empty() ? input : options.strOutput;
    bool named = !options.strOutput.empty();  // -o names the songs, not only their folder
    if (!options.strOutput.empty()) {
        std::error_code ec;
        if (base.back() == '/' || fs::is_directory(base, ec)) {
            if (input == "-") {
                *error =
                    "reading standard input, -o names the song files, not a folder (for "
                    "example: -o " +
                    base + (base.back() == '/' ? "" : "/") + "Side.wav)";
                return {};
            }
            if (base.back() != '/') base += '/';
            base += FileNamePart(input);
            named = false;
        }
    }
    const std::string name(FileNamePart(base));
    if (name.empty() || name == "." || name == "..") {
        *error = "the output base " + base + " names no file";
        return {};
    }
    if (name.find('.') == std::string::npos) {
        base += SongExtension(options);
    } else if (named && !HasSongExtension(options, name)) {
        // The song files are of their format whatever their name says.
        *error = WrongExtension(options);
        return {};
    } else if (options.bFlac && !HasSongExtension(options, name)) {
        // An input's own name: its songs are FLAC files, not of the input's type.
        base.resize(base.size() - (name.size() - name.rfind('.')));
        base += SongExtension(options);
    }
    return base;
}

namespace {

struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino; }
};

std::optional<FileId> IdOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// Standard input that is a regular file ("< Side1.wav") is the user's file as much as a named
// input: its songs must not be written over it either.
std::optional<FileId> InputIdOf(const std::string& name) {
    if (name != "-") return IdOf(name);
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// A folder as one name, whether it exists yet or not.
std::string SameFolder(const std::string& path) {
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(fs::absolute(FolderPart(path), ec), ec);
    return folder.lexically_normal().string();
}

// Does some song file of base a carry the name of some song file of base b? In one folder
// with one extension, when one stem is the other followed by digits that a song number may
// begin with ("X" and "X1" both name X11.wav). The example name goes to *example.
bool Overlap(const CSongFileName& a, const CSongFileName& b, std::string* example) {
    if (a.Extension() != b.Extension()) return false;
    const std::string sa(FileNamePart(a.Stem())), sb(FileNamePart(b.Stem()));
    const bool aShorter = sa.size() <= sb.size();
    const std::string& shorter = aShorter ? sa : sb;
    const std::string& longer = aShorter ? sb : sa;
    if (longer.compare(0, shorter.size(), shorter) != 0) return false;
    const std::string digits = longer.substr(shorter.size());
    if (!digits.empty() && digits[0] == '0') return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    if (digits.size() + 1 > kMaxSongNumberDigits) return false;
    *example = (aShorter ? b : a).Name(1);
    return true;
}

// A song file by its name or its first bytes (WAV or FLAC, whatever this run writes: a label file
// or cue sheet never goes over one). A regular file is looked into; a pipe, a FIFO or a terminal
// (/dev/stdout) is a stream the text goes to, never read: reading one would wait for a writer, or
// take the reader's bytes.
bool IsSongFile(const std::string& path) {
    const std::string_view name = FileNamePart(path);
    if (HasWavExtension(name)) return true;
    if (name.size() >= 5 && strncasecmp(name.data() + name.size() - 5, ".flac", 5) == 0)
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    char head[12] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t n = regular ? ::pread(fd, head, sizeof head, 0) : 0;
    ::close(fd);
    if (n >= 4 && std::memcmp(head, "fLaC", 4) == 0) return true;
    return n == static_cast<ssize_t>(sizeof head) &&
           (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0 ||
            std::memcmp(head, "BW64", 4) == 0) &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

// A file of the user's that --force would replace, as opposed to a stream the text goes to.
bool IsStoredFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    return fs::is_regular_file(st) ||
           (!fs::exists(st) && fs::is_symlink(fs::symlink_status(path, ec)));
}

}  // namespace

int CheckRunPaths(const SplitOptions& options, std::ostream& err) {
    auto refuse = [&err](const std::string& text) {
        err << "vellisto-split: " << text << "\n";
        err.flush();
        return kExitUsage;
    };
    struct Input {
        const std::string* pName;
        std::optional<FileId> id;
        std::string strBase, strFolder;
        CSongFileName names;
    };
    std::vector<Input> inputs;
    for (const std::string& name : options.inputs) {
        Input in{&name, InputIdOf(name), {}, {}, CSongFileName()};
        std::string error;
        in.strBase = SongBase(options, name, &error);
        // An input without a base fails on its own, later, and writes nothing.
        if (!in.strBase.empty()) {
            in.strFolder = SameFolder(in.strBase);
            in.names = CSongFileName(in.strBase);
        }
        inputs.push_back(std::move(in));
    }
    auto inputAt = [&inputs](const std::string& path) -> const Input* {
        const std::optional<FileId> id = IdOf(path);
        if (!id) return nullptr;
        for (const Input& in : inputs) {
            if (in.id && *in.id == *id) return &in;
        }
        return nullptr;
    };

    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input& a = inputs[i];
        if (a.strBase.empty()) continue;
        for (size_t j = i + 1; j < inputs.size(); ++j) {
            const Input& b = inputs[j];
            std::string example;
            if (b.strBase.empty() || a.strFolder != b.strFolder ||
                !Overlap(a.names, b.names, &example)) {
                continue;
            }
            return refuse("the song files of " + *a.pName + " and of " + *b.pName +
                          " would have the same names (both would write " + example +
                          "); split them one at a time with different -o");
        }
        // A song file of this base that is an input, by its name or through a link.
        std::error_code ec;
        const std::string folder = FolderPart(a.strBase);
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (a.names.NumberOf(it->path().filename().string()) == 0) continue;
            const std::string song = (fs::path(folder) / it->path().filename()).string();
            if (const Input* hit = inputAt(song)) {
                return refuse("the song files of " + *a.pName + " would overwrite the input " +
                              *hit->pName + " (as " + song + "); choose another base name with -o");
            }
        }
    }

    if (!options.strOutput.empty()) {
        std::error_code ec;
        const std::string name(FileNamePart(options.strOutput));
        if (options.strOutput.back() != '/' && !fs::is_directory(options.strOutput, ec) &&
            name.find('.') != std::string::npos && !HasSongExtension(options, name)) {
            return refuse(WrongExtension(options));
        }
        if (const Input* hit = inputAt(options.strOutput)) {
            std::error_code ec;
            if (!fs::is_directory(options.strOutput, ec)) {
                return refuse("-o " + options.strOutput + " is the input " + *hit->pName +
                              "; -o names the song files' base (a new name) or a folder");
            }
        }
    }
    struct Written {
        const char* szOption;
        const std::string* pPath;
    };
    for (const Written& w :
         {Written{"--labels", &options.strLabels}, Written{"--cue", &options.strCue}}) {
        const std::string& path = *w.pPath;
        if (path.empty()) continue;
        if (const Input* hit = inputAt(path)) {
            return refuse(std::string(w.szOption) + " " + path + " is the input " + *hit->pName +
                          "; name a new file for it");
        }
        if (IsSongFile(path)) {
            return refuse(std::string(w.szOption) + " " + path +
                          " names a song file (WAV or FLAC), which is never written over (did the "
                          "shell expand a pattern?); name a new file for it");
        }
        // What the run reads is the user's: never written over, with --force neither.
        for (const Written& read :
             {Written{"--cuts", &options.strCuts}, Written{"--names", &options.strNames}}) {
            const std::optional<FileId> readId = IdOf(*read.pPath);
            if (!read.pPath->empty() && (*read.pPath == path || (readId && readId == IdOf(path)))) {
                return refuse(std::string(w.szOption) + " " + path + " is the " + read.szOption +
                              " file this run reads; name a new file for it");
            }
        }
        std::error_code ec;
        if (IsStoredFile(path) && !options.bForce) {
            return refuse(std::string(w.szOption) + " " + path +
                          " exists; use --force to overwrite it");
        }
        // Found missing after every song was written, it would fail the run at its end.
        const std::string folder = FolderPart(path);
        if (!fs::exists(fs::symlink_status(path, ec)) && !fs::is_directory(folder, ec)) {
            return refuse(std::string(w.szOption) + " " + path + ": the folder " + folder +
                          " does not exist");
        }
    }
    // Names a label file or cue sheet cannot hold: a label ends at a tab or a line end; a cue
    // sheet quotes its names and has no escape.
    for (const Input& in : inputs) {
        const std::string stem(FileNamePart(in.names.Stem()));
        if (!options.strLabels.empty() && stem.find_first_of("\t\r\n") != std::string::npos) {
            return refuse("--labels: the song names of " + *in.pName +
                          " hold a tab or a line end, which a label file cannot hold");
        }
        if (options.strCue.empty()) continue;
        if (*in.pName == "-") {
            return refuse("--cue names the WAV file the songs are in; standard input has no name");
        }
        if ((stem + std::string(FileNamePart(*in.pName))).find_first_of("\"\r\n") !=
            std::string::npos) {
            return refuse("--cue: the name of " + *in.pName +
                          " or of its songs holds a quotation mark or a line end, which a cue "
                          "sheet cannot hold");
        }
    }
    const std::optional<FileId> labelsId = IdOf(options.strLabels);
    if (!options.strLabels.empty() &&
        (options.strLabels == options.strCue || (labelsId && labelsId == IdOf(options.strCue)))) {
        return refuse("--labels and --cue name the same file " + options.strLabels);
    }
    return -1;
}
