#include "take/Keep.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "audio/FlacFileWriter.h"
#include "audio/SongEncoder.h"
#include "audio/SongFiles.h"
#include "audio/WaveFileReader.h"
#include "engine/SongFileName.h"
#include "take/ClickRepairStream.h"
#include "take/CutsFile.h"
#include "take/FileSteps.h"
#include "take/KeepJournal.h"
#include "take/SongNames.h"
#include "take/TakeList.h"

namespace {

constexpr size_t kCopyBytes = 1 << 20;

// A label file: the reader takes it as one, with at least one label.
bool IsLabelFile(const std::string& text, uint32_t rate) {
    const CutsFile cuts = ParseCuts(text, rate);
    return cuts.Ok() && cuts.format == CutsFormat::Labels && !cuts.marks.empty();
}

// A cue sheet of this take: its first FILE names the side or one of the take's files (a keep
// names the song files it wrote).
bool IsCueOf(const std::string& text, const Take& take) {
    const std::vector<std::string> files = CueSheetFiles(text);
    if (files.empty() || text.find('\0') != std::string::npos) return false;
    const std::string_view name = FileNamePart(files.front());
    return name == FileNamePart(take.strSide) ||
           std::any_of(take.files.begin(), take.files.end(),
                       [name](const TakeFile& f) { return FileNamePart(f.strPath) == name; });
}

// The new songs' files: created exclusively, the take's bytes copied in the kernel, their
// writing started on the disk at their close and the descriptors kept, so that all are synced
// together once the last is written.
class CKeepOutput final : public IFileOutput {
public:
    explicit CKeepOutput(std::vector<int>* written) : m_pWritten(written) {}
    int Open(const char* path) override {
        return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) override {
        return ::pwritev(handle, pieces, count, static_cast<off_t>(offset));
    }
    ssize_t CopyAt(int handle, int from, uint64_t fromOffset, size_t count,
                   uint64_t offset) override {
        loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(offset);
        return ::copy_file_range(from, &in, handle, &out, count, 0);
    }
    // The disk starts on this file while the next one is written; each is synced later.
    int Close(int handle) override {
        ::sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE);
        m_pWritten->push_back(handle);
        return 0;
    }

private:
    std::vector<int>* m_pWritten;
};

// Which stretches of the take hold a repair: [first, end) of each, by first frame.
class CRepairedSpans {
public:
    explicit CRepairedSpans(const std::vector<ClickRepair>& repairs) {
        for (const ClickRepair& r : repairs) {
            if (r.nLength == 0) continue;
            m_spans.emplace_back(r.nFrame, r.nFrame + r.nLength);
            m_nLongest = std::max<uint64_t>(m_nLongest, r.nLength);
        }
        std::sort(m_spans.begin(), m_spans.end());
    }
    bool Empty() const { return m_spans.empty(); }
    // Whether a repair touches frames [first, end).
    bool Overlaps(uint64_t first, uint64_t end) const {
        const uint64_t from = first > m_nLongest ? first - m_nLongest : 0;
        auto it = std::lower_bound(m_spans.begin(), m_spans.end(), std::make_pair(from, from));
        for (; it != m_spans.end() && it->first < end; ++it) {
            if (it->second > first) return true;
        }
        return false;
    }

private:
    std::vector<std::pair<uint64_t, uint64_t>> m_spans;
    uint64_t m_nLongest = 0;
};

}  // namespace

KeepOutcome KeepTake(const Take& take, const KeepPlan& plan, const KeepStepHook& hook) {
    KeepOutcome outcome;
    auto refuse = [&outcome](KeepRefusal why, const std::string& path = {},
                             const std::string& detail = {}, int error = 0) {
        outcome.refusal = why;
        outcome.strPath = path;
        outcome.strDetail = detail;
        outcome.nErrno = error;
        outcome.files.clear();
        return outcome;
    };
    int step = 0;
    auto next = [&] {
        if (hook) hook(++step);
    };
    if (take.files.empty()) return refuse(KeepRefusal::BadCuts);
    const std::string folder = FolderPart(Normal(take.files.front().strPath));
    for (const TakeFile& f : take.files) {
        if (FolderPart(Normal(f.strPath)) != folder) {
            return refuse(KeepRefusal::Scattered, f.strPath);
        }
    }
    // A take opened before the files changed (kept meanwhile, or written over) would be cut
    // from other bytes than the ones shown.
    for (const TakeFile& f : take.files) {
        WavFileInfo info;
        std::string error;
        if (!ReadWavFileInfo(f.strPath, &info, &error) || info.nDataOffset != f.nDataOffset ||
            info.nDataBytes != f.nFrames * take.FrameBytes() ||
            info.format.nBlockAlign != take.format.nBlockAlign ||
            info.format.wFormatTag != take.format.wFormatTag) {
            return refuse(KeepRefusal::Changed, f.strPath);
        }
    }
    const size_t songs = plan.cuts.size() + 1;
    if (plan.titles.size() != songs || plan.fileNames.size() != songs) {
        return refuse(KeepRefusal::BadCuts);
    }
    uint64_t previous = 0;
    for (uint64_t cut : plan.cuts) {
        if (cut <= previous || cut >= take.nFrames) return refuse(KeepRefusal::BadCuts);
        previous = cut;
    }
    std::vector<uint64_t> bounds{0};
    bounds.insert(bounds.end(), plan.cuts.begin(), plan.cuts.end());
    bounds.push_back(take.nFrames);
    const bool flac = plan.format == KeepFormat::Flac;
    if (flac) {
        const FlacRefusal why = CheckFlacFormat(take.format);
        if (why == FlacRefusal::FloatSamples) return refuse(KeepRefusal::FloatToFlac);
        if (why != FlacRefusal::None)
            return refuse(KeepRefusal::FlacFormat, {}, FlacRefusalText(why));
    }
    // The songs are written through one sequence of song files, named by the journal's
    // temporary names; a song too long for a file of the format is refused before any is written.
    std::vector<int> written;  // the new songs' descriptors until they are synced
    CKeepOutput output(&written);
    CWaveFileWriter wavWriter;
    wavWriter.SetOutput(&output);
    CWavSongEncoder wav(wavWriter, take.format, static_cast<long>(kCopyBytes));
    CFlacSongEncoder flacEncoder(output, take.format, [&plan](long number, const std::string&) {
        return FlacTags{plan.titles[static_cast<size_t>(number) - 1], static_cast<int>(number),
                        plan.strAlbum, plan.strArtist};
    });
    std::vector<std::string> temps;  // by song number - 1, once the journal names them
    CSongFiles files(
        flac ? static_cast<ISongEncoder&>(flacEncoder) : wav,
        [&temps](long number, char* out, size_t size) {
            const std::string& temp = temps[static_cast<size_t>(number) - 1];
            return static_cast<size_t>(std::snprintf(out, size, "%s", temp.c_str())) < size;
        },
        CSongFiles::Overflow::Refuse);
    for (size_t k = 0; k < songs; ++k) {
        if (!files.Fits((bounds[k + 1] - bounds[k]) * take.FrameBytes())) {
            return refuse(KeepRefusal::SongTooLong, plan.fileNames[k]);
        }
    }

    // The names: plain names in the folder, distinct, and new or the take's own.
    // A side that was never split stays: only song files are replaced.
    std::vector<std::string> oldPaths;
    if (take.bSongFiles) {
        for (const TakeFile& f : take.files) oldPaths.push_back(Normal(f.strPath));
    }
    auto isOld = [&oldPaths](const std::string& path) {
        return std::find(oldPaths.begin(), oldPaths.end(), path) != oldPaths.end();
    };
    std::vector<std::string> entries;
    {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            entries.push_back(it->path().filename().string());
        }
    }
    std::vector<std::string> finals;
    for (const std::string& name : plan.fileNames) {
        const bool control = std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
        if (name.empty() || name == "." || name == ".." || name[0] == '.' ||
            name.find('/') != std::string::npos || control) {
            return refuse(KeepRefusal::BadName, name);
        }
        // The name says what the file holds.
        const std::string ext = flac ? ".flac" : ".wav";
        if (name.size() <= ext.size() ||
            strcasecmp(name.c_str() + name.size() - ext.size(), ext.c_str()) != 0) {
            return refuse(KeepRefusal::WrongExtension, name, ext);
        }
        const std::string path = Normal(folder + "/" + name);
        const std::string folded = Folded(name);
        for (const std::string& other : finals) {
            if (Folded(std::string(FileNamePart(other))) == folded) {
                return refuse(KeepRefusal::NamesCollide, path);
            }
        }
        // Letter case aside too: on a file system that ignores it, the name is that file's.
        for (const std::string& entry : entries) {
            if (Folded(entry) == folded && !isOld(Normal(folder + "/" + entry))) {
                return refuse(KeepRefusal::NameTaken, Normal(folder + "/" + entry));
            }
        }
        finals.push_back(path);
    }
    struct Extra {
        const std::string* pPath;
        bool bCue;
    };
    std::vector<Extra> extras;
    const std::string labels = Normal(plan.strLabelFile), cue = Normal(plan.strCueSheet);
    if (!plan.strLabelFile.empty()) extras.push_back({&labels, false});
    if (!plan.strCueSheet.empty()) extras.push_back({&cue, true});
    if (extras.size() == 2 && labels == cue) {
        return refuse(KeepRefusal::BadName, plan.strCueSheet);
    }
    for (const Extra& e : extras) {
        const std::string path = Normal(*e.pPath);
        const bool song =
            isOld(path) || std::find(finals.begin(), finals.end(), path) != finals.end();
        std::string text;
        struct stat st {};
        // A name of the song formats would pass for a song (a shell pattern gone wrong).
        const std::string name = Folded(std::string(FileNamePart(path)));
        const bool songName = name.ends_with(".wav") || name.ends_with(".flac");
        if (song || songName || name.empty() || name[0] == '.' || FolderPart(path) != folder) {
            return refuse(KeepRefusal::NotOurs, path);
        }
        if (::lstat(path.c_str(), &st) == 0) {
            const bool ours =
                S_ISREG(st.st_mode) && ReadText(path, &text) &&
                (e.bCue ? IsCueOf(text, take) : IsLabelFile(text, take.format.nSamplesPerSec));
            if (!ours) return refuse(KeepRefusal::NotOurs, path);
        }
    }

    const CKeepClaim claim(folder);
    if (!claim.Claimed()) return refuse(KeepRefusal::Busy, KeepJournalPath(folder));
    std::string error;
    if (RecoverClaimedKeep(folder, &error) == Recovery::Failed) {
        return refuse(KeepRefusal::Busy, KeepJournalPath(folder), error);
    }
    next();

    // Before anything is written, the journal: whatever is written from here on is known.
    KeepJournal journal;
    journal.nPid = ::getpid();
    journal.old = oldPaths;
    auto tempFor = [&](const std::string& path, size_t k) {
        return FolderPart(path) + "/." + std::string(FileNamePart(path)).substr(0, 200) + ".keep-" +
               std::to_string(journal.nPid) + "-" + std::to_string(k) + ".part";
    };
    for (size_t k = 0; k < songs; ++k)
        journal.created.emplace_back(tempFor(finals[k], k), finals[k]);
    for (size_t k = 0; k < extras.size(); ++k) {
        journal.created.emplace_back(tempFor(*extras[k].pPath, songs + k), *extras[k].pPath);
    }
    if (!WriteNewFile(KeepJournalPath(folder), KeepJournalText(journal)) || !SyncFolder(folder)) {
        const int e = errno;
        if (e == EEXIST) return refuse(KeepRefusal::Busy, KeepJournalPath(folder));
        ::unlink(KeepJournalPath(folder).c_str());
        return refuse(KeepRefusal::WriteFailed, KeepJournalPath(folder), {}, e);
    }
    next();

    auto fail = [&](KeepRefusal why, const std::string& path, int e) {
        RollBackKeep(folder, journal);
        return refuse(why, path, {}, e);
    };
    std::vector<int> sources;
    struct Closer {
        std::vector<int>* p;
        ~Closer() {
            for (int fd : *p) {
                if (fd >= 0) ::close(fd);
            }
        }
    } closer{&sources};
    const Closer writtenCloser{&written};
    for (const TakeFile& f : take.files) {
        const int fd = ::open(f.strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return fail(KeepRefusal::ReadFailed, f.strPath, errno);
        sources.push_back(fd);
    }
    std::vector<uint64_t> starts;  // first frame of each old file
    for (uint64_t at = 0; const TakeFile& f : take.files) {
        starts.push_back(at);
        at += f.nFrames;
    }
    const uint64_t frameBytes = take.FrameBytes();
    auto goOn = [&](uint64_t done) {
        return !plan.onProgress || plan.onProgress(done, take.nFrames);
    };
    for (size_t k = 0; k < songs; ++k) temps.push_back(journal.created[k].first);
    // Copied in the kernel where it can; encoding is slow enough to be reported as it goes.
    // With repairs, the take goes in pieces: only a piece that holds one is read and patched.
    const CRepairedSpans repaired(plan.repairs);
    const uint64_t stride = flac || !repaired.Empty() ? kCopyBytes / frameBytes : ~uint64_t{0};
    std::vector<uint8_t> patched(repaired.Empty() ? 0 : kCopyBytes);
    for (size_t k = 0; k < songs && !files.Failed(); ++k) {
        if (!files.Open(static_cast<long>(k) + 1)) break;
        for (size_t f = 0; f < take.files.size(); ++f) {
            const uint64_t from = std::max(bounds[k], starts[f]);
            const uint64_t to = std::min(bounds[k + 1], starts[f] + take.files[f].nFrames);
            for (uint64_t at = from; at < to && !files.Failed(); at += std::min(stride, to - at)) {
                const uint64_t frames = std::min(stride, to - at);
                const uint64_t offset = take.files[f].nDataOffset + (at - starts[f]) * frameBytes;
                const size_t bytes = static_cast<size_t>(frames * frameBytes);
                if (repaired.Overlaps(at, at + frames)) {
                    if (!ReadAll(sources[f], patched.data(), bytes, offset)) {
                        const int e = errno;
                        files.Abandon();
                        return fail(KeepRefusal::ReadFailed, take.files[f].strPath, e);
                    }
                    ApplyRepairsAt(patched.data(), take.format, at, static_cast<size_t>(frames),
                                   plan.repairs, true);
                    if (!files.Write(patched.data(), bytes)) break;
                } else if (!files.WriteFrom(sources[f], offset, bytes)) {
                    if (!files.Failure().bReadFailed) break;
                    const int e = files.Failure().nErrno;
                    files.Abandon();
                    return fail(KeepRefusal::ReadFailed, take.files[f].strPath, e);
                }
                if (flac && !goOn(at + frames)) {
                    files.Abandon();
                    return fail(KeepRefusal::Cancelled, {}, 0);
                }
            }
        }
        if (files.Failed() || !files.Finish()) break;
        if (!flac && !goOn(bounds[k + 1])) return fail(KeepRefusal::Cancelled, {}, 0);
    }
    if (files.Failed()) {
        const SongFileFailure& failure = files.Failure();
        const std::string& name = plan.fileNames[static_cast<size_t>(failure.nNumber) - 1];
        files.Abandon();
        RollBackKeep(folder, journal);
        // A FLAC stream's failure has a text of its own; the rest say the system's reason.
        return refuse(KeepRefusal::WriteFailed, name, flac ? failure.szText : std::string(),
                      failure.nErrno);
    }
    for (size_t k = 0; k < songs; ++k) {
        const int fd = written[k];
        written[k] = -1;
        bool ok = ::fsync(fd) == 0;
        const int e = errno;
        if (::close(fd) != 0 && ok) ok = false;
        if (!ok) return fail(KeepRefusal::WriteFailed, plan.fileNames[k], e ? e : errno);
        next();
    }

    for (size_t k = 0; k < extras.size(); ++k) {
        const uint32_t rate = take.format.nSamplesPerSec;
        // Each song in a file of its own: the sheet names them, each track at its file's start.
        std::vector<SideSong> sides;
        std::vector<SideFile> sheetFiles;
        for (size_t s = 0; s < songs; ++s) {
            sides.push_back({bounds[s], bounds[s + 1], plan.titles[s], finals[s]});
            sheetFiles.push_back({std::string(FileNamePart(finals[s])), bounds[s]});
        }
        const std::string text =
            extras[k].bCue ? CueSheetText(sides, sheetFiles, rate, plan.strAlbum, plan.strArtist)
                           : LabelFileText(sides, rate);
        const std::string& temp = journal.created[songs + k].first;
        if (!WriteNewFile(temp, text))
            return fail(KeepRefusal::WriteFailed, *extras[k].pPath, errno);
        next();
    }
    if (!SyncFolder(folder)) return fail(KeepRefusal::WriteFailed, folder, errno);

    // Every new file is whole on the disk: from here on the keep is finished, if need be by
    // the next open.
    journal.bCommit = true;
    if (!ReplaceKeepJournal(folder, journal)) {
        const int e = errno;
        KeepJournal now;
        std::string text;
        // Whether the commit reached the disk decides which way the next open goes.
        if (ReadText(KeepJournalPath(folder), &text) && ParseKeepJournal(text, &now) &&
            !now.bCommit) {
            return fail(KeepRefusal::WriteFailed, KeepJournalPath(folder), e);
        }
        return refuse(KeepRefusal::ReplaceFailed, KeepJournalPath(folder), {}, e);
    }
    next();
    std::string failed;
    if (!FinishKeep(folder, journal, &hook, &step, &failed)) {
        return refuse(KeepRefusal::ReplaceFailed, failed, {}, errno);
    }
    outcome.files = finals;
    // The side's take list names the kept files from now on; one that cannot be written must
    // not stay naming files that are gone.
    if (take.bSongFiles) {
        std::vector<TakeListFile> listed;
        for (size_t s = 0; s < songs; ++s) listed.push_back({finals[s], bounds[s + 1] - bounds[s]});
        if (!WriteTakeList(take.strSide, listed)) RemoveTakeList(take.strSide);
    }
    for (size_t s = 0; s < songs; ++s) {
        // The name was made from the pattern, which the keep does not see: a name holding the
        // cut title took the title from it.
        const std::string& title = plan.titles[s];
        if (TitleShortened(title) && plan.fileNames[s].find(SafeTitle(title)) != std::string::npos)
            outcome.shortened.push_back({static_cast<int>(s), title, plan.fileNames[s]});
    }
    return outcome;
}

std::string DescribeKeepOutcome(const KeepOutcome& o) {
    const std::string reason = o.nErrno ? std::string(": ") + std::strerror(o.nErrno) : "";
    switch (o.refusal) {
        case KeepRefusal::None:
            return {};
        case KeepRefusal::Busy:
            return "another keep is under way in this folder" +
                   (o.strDetail.empty() ? "" : " (" + o.strDetail + ")");
        case KeepRefusal::Changed:
            return o.strPath + " has changed since the take was opened; open it again";
        case KeepRefusal::Scattered:
            return "the take's song files are not all in one folder (" + o.strPath + ")";
        case KeepRefusal::BadCuts:
            return "the cuts must lie inside the side, in order, one title and one name a song";
        case KeepRefusal::BadName:
            return "\"" + o.strPath + "\" cannot name a song file in the take's folder";
        case KeepRefusal::NameTaken:
            return o.strPath + " exists and is not one of the take's song files";
        case KeepRefusal::NamesCollide:
            return "two songs would be named " + o.strPath + " (letter case aside)";
        case KeepRefusal::SongTooLong:
            return o.strPath + " would pass the 4 GiB a WAV file holds; add a cut";
        case KeepRefusal::FloatToFlac:
            return "the take holds 32-bit float samples, which FLAC cannot hold without loss; "
                   "keep it as WAV";
        case KeepRefusal::FlacFormat:
            return o.strDetail;
        case KeepRefusal::NotOurs:
            return o.strPath + " is not a label file or cue sheet of this take; name a new file";
        case KeepRefusal::ReadFailed:
            return "cannot read " + o.strPath + reason + "; nothing was changed";
        case KeepRefusal::WriteFailed:
            return "cannot write " + o.strPath +
                   (o.strDetail.empty() ? reason : " (" + o.strDetail + ")") +
                   "; nothing was changed";
        case KeepRefusal::WrongExtension:
            return "\"" + o.strPath + "\" would not say what it holds; name it " + o.strDetail;
        case KeepRefusal::Cancelled:
            return "the keep was cancelled; nothing was changed";
        case KeepRefusal::ReplaceFailed:
            return "the new songs are written, but replacing the old ones stopped at " + o.strPath +
                   reason + "; opening the take again finishes it";
    }
    return {};
}

std::string DescribeShortenedNames(const KeepOutcome& o) {
    if (o.shortened.empty()) return {};
    const bool one = o.shortened.size() == 1;
    std::string songs, names;
    for (const ShortenedName& name : o.shortened) {
        const std::string separator = songs.empty() ? "" : ", ";
        songs += separator + std::to_string(name.nSong + 1);
        names += separator + "\"" + name.strFileName + "\"";
    }
    return std::string(one ? "The title of song " : "The titles of songs ") + songs +
           (one ? " is" : " are") + " too long for a file name; the file name" +
           (one ? " holds" : "s hold") + " only " + (one ? "its" : "their") +
           " beginning: " + names + ".";
}
