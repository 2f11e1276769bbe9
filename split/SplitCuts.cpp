// The splitter's cuts mode: songs cut where a label file or cue sheet says, named after their
// titles, the input's bytes copied untouched. The other modes' file rules hold: songs are
// written under temporary names and renamed when finished, never over an existing file unless
// --force, never over the input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "audio/WaveFileWriter.h"
#include "take/CutsFile.h"
#include "split/RunPaths.h"
#include "take/SongNames.h"
#include "split/SongOutput.h"
#include "split/Splitter.h"
#include "split/TerminalWindow.h"
#include "take/TrackList.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyBytes = 1 << 16;
constexpr uint64_t kLongestWavData = 0xFFFFFFFFull - 64;  // a WAV file's 4 GiB, header aside
constexpr uint64_t kOpenEnd = std::numeric_limits<uint64_t>::max();
// Titled songs are named by this pattern and the songs' extension.
constexpr const char* kTitledPattern = "{n:02} {title}";

struct Piece {
    uint64_t nFrom = 0, nTo = 0;  // frames; nTo kOpenEnd: to the end of the input
    int nLine = 0;                // of the cut in its file
};

bool SameFile(const std::string& a, int fd) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::fstat(fd, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Reads up to count bytes, whatever the reads in between give; fewer only at the end. -1 on a
// failure or when interrupted (errno EINTR).
ssize_t ReadSome(int fd, char* out, size_t count, const std::atomic<int>* interrupt) {
    size_t done = 0;
    while (done < count) {
        if (interrupt && interrupt->load() != 0) {
            errno = EINTR;
            return -1;
        }
        const ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Renames without replacing an existing file unless overwrite (a file system that cannot:
// through a new link, which is as exclusive).
int RenameNew(const std::string& from, const std::string& to, bool overwrite) {
    if (overwrite) return ::rename(from.c_str(), to.c_str());
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    return ::unlink(from.c_str());
}

}  // namespace

bool CSplitter::ReadTitles(std::vector<std::string>* titles) {
    std::ifstream in(m_options.strNames, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), {});
    if (!in && !in.eof()) {
        Fail("cannot read the track list " + m_options.strNames + ": " + std::strerror(errno));
        return false;
    }
    *titles = ParseTrackList(text);
    if (titles->empty()) {
        Fail("the track list " + m_options.strNames + " holds no title");
        return false;
    }
    return true;
}

FlacTags CSplitter::TagsFor(const std::string& path, const std::vector<std::string>& names) const {
    FlacTags tags;
    tags.strAlbum = m_strAlbum;
    tags.strArtist = m_strArtist;
    long number = 0;
    for (size_t k = 0; k < names.size() && number == 0; ++k) {
        if (names[k] == path) number = static_cast<long>(k) + 1;
    }
    if (number == 0) number = m_songNames.NumberOf(path);
    if (number > 0) {
        tags.nTrack = static_cast<int>(number);
        if (static_cast<size_t>(number) <= m_titles.size()) {
            tags.strTitle = m_titles[static_cast<size_t>(number) - 1];
        }
    }
    return tags;
}

bool CSplitter::TitledPaths(std::vector<std::string>* paths) {
    const SongNames names = BuildSongNames(kTitledPattern + std::string(SongExtension(m_options)),
                                           m_titles, {}, {m_strAlbum, m_strArtist});
    if (!names.Ok()) {
        Fail("cannot name the songs after their titles: " + DescribeNamesRefusal(names));
        return false;
    }
    // In the base's folder, named as the base is (without "./" when it has no folder).
    const std::string folder =
        m_strBasePath.substr(0, m_strBasePath.size() - FileNamePart(m_strBasePath).size());
    paths->clear();
    for (const std::string& name : names.names) paths->push_back(folder + name);
    return true;
}

bool CSplitter::CheckTargets(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (SameFile(path, m_nFd)) {
            Fail(path + " is the input; choose another folder with -o");
            return false;
        }
        std::error_code ec;
        if (!m_options.bForce && fs::exists(fs::symlink_status(path, ec))) {
            Fail(path + " exists; use --force to overwrite it");
            return false;
        }
    }
    return true;
}

int CSplitter::NameAfterTitles() {
    if (m_songs.size() != m_titles.size()) {
        Fail("the track list " + m_options.strNames + " holds " + std::to_string(m_titles.size()) +
             " titles, the side was split into " + std::to_string(m_songs.size()) +
             " songs; they keep their numbered names");
        return kExitFailed;
    }
    std::vector<std::string> paths;
    if (!TitledPaths(&paths)) return kExitFailed;
    for (size_t k = 0; k < m_songs.size(); ++k) {
        SplitSong& song = m_songs[k];
        song.strTitle = m_titles[k];
        if (m_options.bList) {
            song.strPath = paths[k];
            continue;
        }
        if (RenameNew(song.strPath, paths[k], m_options.bForce) != 0) {
            Fail("cannot name " + song.strPath + " " + paths[k] + ": " + std::strerror(errno));
            return kExitFailed;
        }
        song.strPath = paths[k];
    }
    return kExitOk;
}

int CSplitter::SplitAtCuts() {
    const WAVEFORMATEX& format = m_info.format;
    const uint64_t frameBytes = format.nBlockAlign;
    const CutsFile cuts = ReadCutsFile(m_options.strCuts, format.nSamplesPerSec);
    if (!cuts.Ok()) {
        return Fail("--cuts " + m_options.strCuts + (cuts.nErrorLine > 0 ? ":" : ": ") +
                    cuts.ErrorText());
    }
    if (cuts.marks.empty()) return Fail("--cuts " + m_options.strCuts + ": it holds no cut");

    // A stream may end before its header says; that shows while it is read.
    const uint64_t total =
        m_info.nDataBytes == WavFileInfo::kToTheEnd ? kOpenEnd : m_info.nDataBytes / frameBytes;
    const std::string where = "--cuts " + m_options.strCuts + ":";
    for (const CutMark& m : cuts.marks) {
        if (total != kOpenEnd && m.nStart >= total) {
            return Fail(where + std::to_string(m.nLine) + ": the cut at " + Time(m.nStart) +
                        " is not before the end of " + m_strName + " (" + Time(total) + ")");
        }
    }
    // The songs: from each cut to the next, or to a label's end when it comes first; the last
    // to its label's end or the end of the input.
    std::vector<Piece> pieces;
    for (size_t k = 0; k < cuts.marks.size(); ++k) {
        const CutMark& m = cuts.marks[k];
        Piece p{m.nStart, m.nEnd.value_or(kOpenEnd), m.nLine};
        if (k + 1 < cuts.marks.size()) p.nTo = std::min(p.nTo, cuts.marks[k + 1].nStart);
        if (total != kOpenEnd && p.nTo != kOpenEnd && p.nTo > total) {
            return Fail(where + std::to_string(m.nLine) + ": the song ends at " + Time(p.nTo) +
                        ", after the end of " + m_strName + " (" + Time(total) + ")");
        }
        pieces.push_back(p);
    }

    m_strAlbum = m_options.strAlbum.empty() ? cuts.strAlbum : m_options.strAlbum;
    m_strArtist = m_options.strArtist.empty() ? cuts.strArtist : m_options.strArtist;
    if (!m_options.strNames.empty()) {
        if (!ReadTitles(&m_titles)) return kExitFailed;
        if (m_titles.size() != pieces.size()) {
            return Fail("the track list " + m_options.strNames + " holds " +
                        std::to_string(m_titles.size()) + " titles; --cuts " + m_options.strCuts +
                        " gives " + std::to_string(pieces.size()) + " songs");
        }
    } else {
        for (const CutMark& m : cuts.marks) m_titles.push_back(m.strTitle);
    }

    // Titled songs are named after their titles; otherwise by the song-file rule.
    const bool titled = std::none_of(m_titles.begin(), m_titles.end(),
                                     [](const std::string& t) { return t.empty(); });
    std::vector<std::string> paths;
    if (titled) {
        if (!TitledPaths(&paths)) return kExitFailed;
    } else {
        for (size_t k = 0; k < pieces.size(); ++k) paths.push_back(m_songNames.Name(long(k) + 1));
    }
    const bool list = m_options.bList;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& p = pieces[k];
        const uint64_t to = p.nTo != kOpenEnd ? p.nTo : total;
        if (!m_options.bFlac && to != kOpenEnd && to - p.nFrom > kLongestWavData / frameBytes) {
            return Fail(paths[k] +
                        " would pass the 4 GiB a WAV file holds; add a cut or use --format flac");
        }
    }
    if (!list && !CheckTargets(paths)) return kExitFailed;

    // What the cuts leave out is said, not dropped silently.
    auto noteLeftOut = [&](uint64_t frames, const std::string& where) {
        if (frames > 0) {
            Note() << "vellisto-split: notice: " << Time(frames) << " of " << m_strName << " "
                   << where << " " << (list ? "would not be" : "was not") << " written\n";
        }
    };

    // A dry run counts the bytes into stand-ins in a folder of its own, never the user's.
    std::vector<std::string> targets = paths;
    if (list) {
        m_strScratch = MakeScratchFolder();
        if (m_strScratch.empty()) return Fail(std::string("cannot list: ") + std::strerror(errno));
        for (size_t k = 0; k < targets.size(); ++k) {
            targets[k] = m_strScratch + "/" + std::to_string(k + 1) + SongExtension(m_options);
        }
    }
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, format,
                       m_options.bForce);
    if (m_options.bFlac) {
        output.EncodeFlac([this, &paths](const std::string& path) { return TagsFor(path, paths); });
    }
    CTerminalWindow window(m_err, false);
    CWaveFileWriter writer;
    writer.SetOutput(&output);
    bool failed = false;
    auto check = [&] {
        if (!writer.GetErrorFlag()) return true;
        window.ShowError(writer.GetErrorText());
        failed = true;
        return false;
    };

    std::unique_ptr<char[]> buffer(new char[kCopyBytes]);
    uint64_t at = 0;  // bytes of the input read
    bool ended = false;
    bool interrupted = false;
    // Reads on to byte `until` (kOpenEnd: to the end), handing what it read to write (or to
    // nowhere). False on a failure or an interruption; `ended` when the input ended first.
    auto copy = [&](uint64_t until, bool write) {
        while (at < until && !ended) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, until - at));
            const ssize_t n = ReadSome(m_nFd, buffer.get(), want, m_pInterrupt);
            if (n < 0) {
                if (errno == EINTR) {
                    interrupted = true;
                } else {
                    Fail("Cannot read " + m_strName + ": " + std::strerror(errno));
                    failed = true;
                }
                return false;
            }
            // A stream ends in whole frames; what is left of a partial one is dropped.
            const size_t whole = static_cast<size_t>(n) / frameBytes * frameBytes;
            if (static_cast<size_t>(n) < want) ended = true;
            if (write && whole > 0) {
                writer.Write(buffer.get(), static_cast<long>(whole));
                if (!check()) return false;
            }
            at += static_cast<uint64_t>(n);
        }
        return true;
    };

    const uint64_t dataEnd =
        m_info.nDataBytes == WavFileInfo::kToTheEnd ? kOpenEnd : m_info.nDataBytes;
    uint64_t leftOut = 0;
    size_t written = 0;
    std::string lastPath;
    bool ok = true;
    for (size_t k = 0; ok && k < pieces.size(); ++k) {
        const Piece& p = pieces[k];
        // Cuts of a stream are not checked against its length before it is read: far ones
        // saturate rather than wrap.
        auto bytes = [frameBytes](uint64_t frames) {
            return frames > kOpenEnd / frameBytes ? kOpenEnd : frames * frameBytes;
        };
        const uint64_t from = bytes(p.nFrom);
        const uint64_t to = p.nTo == kOpenEnd ? dataEnd : bytes(p.nTo);
        leftOut += from - std::min(from, at);
        ok = copy(from, false);
        if (!ok) break;
        if (ended) {
            Fail("--cuts " + m_options.strCuts + ":" + std::to_string(p.nLine) + ": " + m_strName +
                 " ends at " + Time(at / frameBytes) + ", before the cut at " + Time(p.nFrom));
            failed = true;
            break;
        }
        lastPath = targets[k];
        writer.SetFileName(targets[k].c_str());
        writer.Create();
        if (!check()) break;
        writer.BeginWave(static_cast<short>(format.wBitsPerSample), format.nSamplesPerSec,
                         static_cast<short>(format.nChannels), kCopyBytes);
        if (!check()) break;
        SplitSong song;
        song.strPath = paths[k];
        song.strTitle = m_titles[k];
        song.nStartFrame = p.nFrom;
        const uint64_t before = at;
        ok = copy(to, true);
        song.nFrames = (at - before) / frameBytes;
        if (list) {
            const CSongOutput::File& counted = output.GetFiles().back();
            song.fPeak = counted.fPeak;
            song.nClipped = counted.nClipped;
        }
        if (ok && ended && to != dataEnd && at < to) {
            Fail("--cuts " + m_options.strCuts + ":" + std::to_string(p.nLine) + ": " + m_strName +
                 " ends at " + Time(at / frameBytes) + ", before the song ends at " +
                 Time(to / frameBytes));
            failed = true;
            ok = false;
        }
        // An interrupted stream keeps the song being written, finished; a file's goes.
        if (!ok && !(interrupted && m_info.bStream && !failed)) break;
        writer.Close();
        if (!check()) break;
        m_songs.push_back(song);
        ++written;
    }
    if (writer.IsOpen()) {
        writer.Close();
        check();
    }
    if (failed || interrupted) {
        if (written < pieces.size() && !lastPath.empty() &&
            (m_songs.empty() || targets[m_songs.size() - 1] != lastPath)) {
            RemoveUnfinished(output, lastPath);
        }
        if (interrupted) Fail("interrupted after " + Time(at / frameBytes) + " of the input");
        if (!m_options.bQuiet && !m_songs.empty()) PrintSummary();
        return interrupted ? kExitSignal + m_pInterrupt->load() : kExitFailed;
    }
    // Read to the end: a stream's writer is not cut off, and the rest is measured.
    const uint64_t taken = at;
    // Its audio ends at the data size it states; chunks after it are read, not counted.
    if (m_info.bStream) {
        copy(kOpenEnd, false);
        at = std::min(at, dataEnd);
        if (interrupted) {
            Fail("interrupted after the last song, reading the rest of " + m_strName);
            if (!m_options.bQuiet) PrintSummary();
            return kExitSignal + m_pInterrupt->load();
        }
    } else {
        at = std::max(at, dataEnd);  // a file's rest is known without reading it
    }
    m_nTakenBytes = taken;
    noteLeftOut(leftOut / frameBytes,
                "between the cuts (before the first, or between a label's end and the next)");
    noteLeftOut((at - taken) / frameBytes, "after the last song");
    const int rc = WriteLabelsAndCue();
    if (list) {
        PrintList(nullptr, std::string());
    } else if (!m_options.bQuiet) {
        PrintSummary();
    }
    return rc;
}
