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

#include "audio/FlacFileWriter.h"
#include "audio/WaveFileReader.h"
#include "engine/SongFileName.h"
#include "take/CutsFile.h"
#include "take/FileSteps.h"
#include "take/KeepJournal.h"

namespace {

constexpr uint64_t kLongestData = 0xFFFFFFFFull - 38;  // the RIFF size of a float header
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

std::string WaveHeader(const WAVEFORMATEX& f, uint64_t dataBytes) {
    const bool isFloat = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    const uint32_t fmtBytes = isFloat ? 18 : 16;
    std::string h;
    auto u32 = [&h](uint32_t v) {
        for (int k = 0; k < 4; ++k) h += static_cast<char>(v >> (8 * k) & 0xFF);
    };
    auto u16 = [&h](uint16_t v) {
        h += static_cast<char>(v & 0xFF);
        h += static_cast<char>(v >> 8);
    };
    h += "RIFF";
    u32(static_cast<uint32_t>(4 + 8 + fmtBytes + 8 + dataBytes + (dataBytes & 1)));
    h += "WAVEfmt ";
    u32(fmtBytes);
    u16(f.wFormatTag);
    u16(f.nChannels);
    u32(f.nSamplesPerSec);
    u32(f.nSamplesPerSec * f.nBlockAlign);
    u16(f.nBlockAlign);
    u16(f.wBitsPerSample);
    if (isFloat) u16(0);
    h += "data";
    u32(static_cast<uint32_t>(dataBytes));
    return h;
}

// Copies bytes between descriptors in the kernel where it can, through a buffer where not.
// *readFailed tells a failed read of the source from a failed write.
bool CopyBytes(int from, uint64_t fromOffset, int to, uint64_t toOffset, uint64_t count,
               std::unique_ptr<char[]>& buffer, bool* readFailed) {
    *readFailed = false;
    bool kernel = true;
    while (count > 0) {
        if (kernel) {
            loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(toOffset);
            const ssize_t n = ::copy_file_range(
                from, &in, to, &out, static_cast<size_t>(std::min<uint64_t>(count, 1u << 30)), 0);
            if (n > 0) {
                fromOffset += static_cast<uint64_t>(n);
                toOffset += static_cast<uint64_t>(n);
                count -= static_cast<uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {
                errno = EIO;  // the file is shorter than its take said
                *readFailed = true;
                return false;
            }
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                return false;
            }
            kernel = false;
        }
        if (!buffer) buffer.reset(new char[kCopyBytes]);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count, kCopyBytes));
        const ssize_t n = ::pread(from, buffer.get(), want, static_cast<off_t>(fromOffset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            *readFailed = true;
            return false;
        }
        if (!WriteAll(to, buffer.get(), static_cast<size_t>(n), toOffset)) return false;
        fromOffset += static_cast<uint64_t>(n);
        toOffset += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

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
    for (size_t k = 0; k < songs; ++k) {
        if (!flac && (bounds[k + 1] - bounds[k]) * take.FrameBytes() > kLongestData) {
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
    std::vector<int> written;  // the new songs' descriptors until they are synced
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
    std::unique_ptr<char[]> buffer;
    const uint64_t frameBytes = take.FrameBytes();
    auto goOn = [&](uint64_t done) {
        return !plan.onProgress || plan.onProgress(done, take.nFrames);
    };
    const CTakeReader reader(take);
    for (size_t k = 0; k < songs; ++k) {
        const std::string& temp = journal.created[k].first;
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return fail(KeepRefusal::WriteFailed, temp, errno);
        const uint64_t dataBytes = (bounds[k + 1] - bounds[k]) * frameBytes;
        bool ok = true;
        if (flac) {
            // Encoded from the very data bytes, in whole frames.
            CFlacFileWriter writer;
            const FlacTags tags{plan.titles[k], static_cast<int>(k + 1), plan.strAlbum,
                                plan.strArtist};
            ok = writer.Begin(fd, finals[k], take.format, tags);
            if (!buffer) buffer.reset(new char[kCopyBytes]);
            const size_t chunk = kCopyBytes / frameBytes;
            for (uint64_t at = bounds[k]; ok && at < bounds[k + 1]; at += chunk) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(chunk, bounds[k + 1] - at));
                if (reader.ReadFrames(at, want, buffer.get()) != want) {
                    const int e = errno ? errno : EIO;
                    ::close(fd);
                    return fail(KeepRefusal::ReadFailed, take.strSide, e);
                }
                ok = writer.Write(buffer.get(), want * frameBytes);
                if (ok && !goOn(at + want)) {
                    ::close(fd);
                    return fail(KeepRefusal::Cancelled, {}, 0);
                }
            }
            ok = ok && writer.Finish();
            if (!ok) {
                ::close(fd);
                RollBackKeep(folder, journal);
                return refuse(KeepRefusal::WriteFailed, finals[k], writer.GetErrorText());
            }
        }
        const std::string header = flac ? std::string() : WaveHeader(take.format, dataBytes);
        ok = ok && WriteAll(fd, header.data(), header.size(), 0);
        uint64_t out = header.size();
        for (size_t f = 0; ok && !flac && f < take.files.size(); ++f) {
            const uint64_t from = std::max(bounds[k], starts[f]);
            const uint64_t to = std::min(bounds[k + 1], starts[f] + take.files[f].nFrames);
            if (from >= to) continue;
            const uint64_t bytes = (to - from) * frameBytes;
            const uint64_t offset = take.files[f].nDataOffset + (from - starts[f]) * frameBytes;
            bool readFailed = false;
            ok = CopyBytes(sources[f], offset, fd, out, bytes, buffer, &readFailed);
            if (!ok && readFailed) {
                const int e = errno;
                ::close(fd);
                return fail(KeepRefusal::ReadFailed, take.files[f].strPath, e);
            }
            out += bytes;
        }
        if (ok && !flac && (dataBytes & 1)) ok = WriteAll(fd, "", 1, out);
        if (ok && !flac && !goOn(bounds[k + 1])) {
            ::close(fd);
            return fail(KeepRefusal::Cancelled, {}, 0);
        }
        // The disk starts on this file while the next one is copied; each is synced below.
        if (ok) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        if (!ok) {
            const int e = errno;
            ::close(fd);
            return fail(KeepRefusal::WriteFailed, plan.fileNames[k], e);
        }
        written.push_back(fd);
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
