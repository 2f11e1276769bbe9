#include "split/Keep.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>

#include "audio/FlacFileWriter.h"
#include "audio/capture/FileCaptureBackend.h"
#include "engine/SongFileName.h"

namespace {

constexpr const char* kJournalName = ".vellisto-keep";
constexpr uint64_t kLongestData = 0xFFFFFFFFull - 38;  // the RIFF size of a float header
constexpr size_t kCopyBytes = 1 << 20;

// One spelling of a path ("./a//b" and "a/b" alike), so that names compare.
std::string Normal(const std::string& path) {
    return path.empty() ? path : std::filesystem::path(path).lexically_normal().string();
}

std::string Folded(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string JournalPath(const std::string& folder) { return folder + "/" + kJournalName; }

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool WriteAll(int fd, const char* data, size_t count, uint64_t offset) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, data, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// A whole small file, created exclusively, synced.
bool WriteNewFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, text.data(), text.size(), 0) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        errno = error;
    }
    return ok;
}

bool ReadText(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[4096];
    size_t n;
    text->clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text->append(buffer, n);
        if (text->size() > (1u << 20)) break;
    }
    std::fclose(file);
    return true;
}

// The journal: which process keeps, the phase, the old files and each new file's temporary
// and final path. Paths are written with their length, so that any byte may be in them.
struct Journal {
    long nPid = 0;
    bool bCommit = false;
    std::vector<std::string> old;
    std::vector<std::pair<std::string, std::string>> created;  // temporary, final
};

void PutPath(std::string& text, const std::string& path) {
    text += ' ' + std::to_string(path.size()) + ':' + path;
}

std::string JournalText(const Journal& j) {
    std::string text = "vellisto-keep 1\npid " + std::to_string(j.nPid) + "\nphase " +
                       (j.bCommit ? "commit" : "write") + "\n";
    for (const std::string& path : j.old) {
        text += "old";
        PutPath(text, path);
        text += '\n';
    }
    for (const auto& [temp, final] : j.created) {
        text += "new";
        PutPath(text, temp);
        PutPath(text, final);
        text += '\n';
    }
    return text + "end\n";
}

bool ParseJournal(const std::string& text, Journal* j) {
    size_t at = 0;
    auto word = [&](std::string* out) {
        while (at < text.size() && text[at] == ' ') ++at;
        const size_t end = text.find_first_of(" \n", at);
        if (end == std::string::npos) return false;
        *out = text.substr(at, end - at);
        at = end;
        return true;
    };
    auto path = [&](std::string* out) {
        if (at >= text.size() || text[at] != ' ') return false;
        const size_t colon = text.find(':', ++at);
        if (colon == std::string::npos || colon == at || colon - at > 6) return false;
        for (size_t k = at; k < colon; ++k) {
            if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
        }
        const size_t size = std::stoul(text.substr(at, colon - at));
        if (colon + 1 + size > text.size()) return false;
        *out = text.substr(colon + 1, size);
        at = colon + 1 + size;
        return true;
    };
    auto endLine = [&] { return at < text.size() && text[at++] == '\n'; };
    std::string w, v;
    if (!word(&w) || w != "vellisto-keep" || !word(&v) || v != "1" || !endLine()) return false;
    if (!word(&w) || w != "pid" || !word(&v) || !endLine()) return false;
    j->nPid = std::atol(v.c_str());
    if (!word(&w) || w != "phase" || !word(&v) || !endLine()) return false;
    if (v != "commit" && v != "write") return false;
    j->bCommit = v == "commit";
    for (;;) {
        if (!word(&w)) return false;
        if (w == "end") return endLine();
        std::string a, b;
        if (w == "old" && path(&a) && endLine()) {
            j->old.push_back(a);
        } else if (w == "new" && path(&a) && path(&b) && endLine()) {
            j->created.emplace_back(a, b);
        } else {
            return false;
        }
    }
}

// Writes the journal over itself in one step: beside it, synced, renamed, folder synced.
bool ReplaceJournal(const std::string& folder, const Journal& j) {
    const std::string path = JournalPath(folder), beside = path + ".next";
    ::unlink(beside.c_str());
    return WriteNewFile(beside, JournalText(j)) && ::rename(beside.c_str(), path.c_str()) == 0 &&
           SyncFolder(folder);
}

bool RollBack(const std::string& folder, const Journal& j) {
    for (const auto& created : j.created) {
        if (::unlink(created.first.c_str()) != 0 && errno != ENOENT) return false;
    }
    ::unlink((JournalPath(folder) + ".next").c_str());
    return SyncFolder(folder) && ::unlink(JournalPath(folder).c_str()) == 0 && SyncFolder(folder);
}

// The commit, from wherever it stopped: every step can be done again.
bool Finish(const std::string& folder, const Journal& j, const KeepStepHook* hook, int* step,
            std::string* failed) {
    auto next = [&] {
        if (hook && *hook) (*hook)(++*step);
    };
    // An old name that a new one spells in other letter case goes first: on a file system that
    // ignores case it is the same entry, which must not be removed after the rename. Only
    // while the temporary file is there, so that doing this again removes nothing new.
    auto sameEntry = [](const std::string& a, const std::string& b) {
        return Folded(std::string(FileNamePart(a))) == Folded(std::string(FileNamePart(b)));
    };
    for (const auto& [temp, final] : j.created) {
        if (!Exists(temp)) {
            next();
            continue;
        }
        for (const std::string& old : j.old) {
            if (old != final && sameEntry(old, final) && ::unlink(old.c_str()) != 0 &&
                errno != ENOENT) {
                *failed = old;
                return false;
            }
        }
        if (::rename(temp.c_str(), final.c_str()) != 0) {
            *failed = final;
            return false;
        }
        next();
    }
    for (const std::string& old : j.old) {
        const bool kept = std::any_of(j.created.begin(), j.created.end(),
                                      [&](const auto& c) { return sameEntry(c.second, old); });
        if (!kept && ::unlink(old.c_str()) != 0 && errno != ENOENT) {
            *failed = old;
            return false;
        }
        if (!kept) next();
    }
    if (!SyncFolder(folder)) {
        *failed = folder;
        return false;
    }
    next();
    ::unlink((JournalPath(folder) + ".next").c_str());
    if (::unlink(JournalPath(folder).c_str()) != 0 || !SyncFolder(folder)) {
        *failed = JournalPath(folder);
        return false;
    }
    return true;
}

bool IsNumber(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

// A label file: every line start, end and a label, tab-separated.
bool IsLabelFile(const std::string& text) {
    size_t at = 0;
    bool any = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (t2 == std::string::npos || !IsNumber(line.substr(0, t1)) ||
            !IsNumber(line.substr(t1 + 1, t2 - t1 - 1))) {
            return false;
        }
        any = true;
    }
    return any;
}

// A cue sheet of this side: its FILE line names the side.
bool IsCueOf(const std::string& text, const std::string& side) {
    const size_t file = text.find("FILE \"");
    if (file == std::string::npos || text.find('\0') != std::string::npos) return false;
    const size_t close = text.find('"', file + 6);
    if (close == std::string::npos) return false;
    return FileNamePart(text.substr(file + 6, close - file - 6)) == FileNamePart(side);
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

std::string Seconds(uint64_t frame, uint32_t rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(frame) / rate);
    return text;
}

// A title as a label file or cue sheet can hold it.
std::string Tidy(const std::string& title, const char* unheld) {
    std::string out = title;
    for (char& c : out) {
        if (std::strchr(unheld, c) || static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return out;
}

}  // namespace

namespace {

// The folders with a keep under way in this process: its journal names this process too, and
// an open on another thread must not take it for one interrupted.
std::mutex g_keepingMutex;
std::set<std::string> g_keeping;  // under g_keepingMutex

bool Keeping(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_keepingMutex);
    return g_keeping.count(Normal(folder)) > 0;
}

class CKeepClaim {
public:
    explicit CKeepClaim(const std::string& folder) : m_strFolder(Normal(folder)) {
        std::lock_guard<std::mutex> guard(g_keepingMutex);
        m_bClaimed = g_keeping.insert(m_strFolder).second;
    }
    ~CKeepClaim() {
        if (!m_bClaimed) return;
        std::lock_guard<std::mutex> guard(g_keepingMutex);
        g_keeping.erase(m_strFolder);
    }
    CKeepClaim(const CKeepClaim&) = delete;
    CKeepClaim& operator=(const CKeepClaim&) = delete;
    bool Claimed() const { return m_bClaimed; }

private:
    std::string m_strFolder;
    bool m_bClaimed = false;
};

Recovery Recover(const std::string& folder, std::string* error);

}  // namespace

Recovery RecoverKeep(const std::string& folder, std::string* error) {
    if (Keeping(folder)) {
        if (error) *error = "a keep is under way in " + folder;
        return Recovery::Failed;
    }
    return Recover(folder, error);
}

namespace {

Recovery Recover(const std::string& folder, std::string* error) {
    const std::string path = JournalPath(folder);
    std::string text;
    if (!ReadText(path, &text)) {
        if (errno == ENOENT) return Recovery::Nothing;
        if (error) *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
        return Recovery::Failed;
    }
    Journal j;
    if (!ParseJournal(text, &j)) {
        // Cut off while it was first written, before the keep wrote anything else: the commit
        // journal is renamed into place whole.
        ::unlink((path + ".next").c_str());
        if (::unlink(path.c_str()) == 0 && SyncFolder(folder)) return Recovery::RolledBack;
        if (error) *error = std::string("cannot remove ") + path + ": " + std::strerror(errno);
        return Recovery::Failed;
    }
    if (j.nPid != ::getpid() && j.nPid > 0 && ::kill(static_cast<pid_t>(j.nPid), 0) == 0) {
        if (error) *error = "another keep (process " + std::to_string(j.nPid) + ") is running";
        return Recovery::Failed;
    }
    std::string failed;
    if (!j.bCommit) {
        if (RollBack(folder, j)) return Recovery::RolledBack;
        failed = folder;
    } else {
        int step = 0;
        if (Finish(folder, j, nullptr, &step, &failed)) return Recovery::Finished;
    }
    if (error) *error = "cannot finish with " + failed + ": " + std::strerror(errno);
    return Recovery::Failed;
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
            const bool ours = S_ISREG(st.st_mode) && ReadText(path, &text) &&
                              (e.bCue ? IsCueOf(text, take.strSide) : IsLabelFile(text));
            if (!ours) return refuse(KeepRefusal::NotOurs, path);
        }
    }

    const CKeepClaim claim(folder);
    if (!claim.Claimed()) return refuse(KeepRefusal::Busy, JournalPath(folder));
    std::string error;
    if (Recover(folder, &error) == Recovery::Failed) {
        return refuse(KeepRefusal::Busy, JournalPath(folder), error);
    }
    next();

    // Before anything is written, the journal: whatever is written from here on is known.
    Journal journal;
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
    if (!WriteNewFile(JournalPath(folder), JournalText(journal)) || !SyncFolder(folder)) {
        const int e = errno;
        if (e == EEXIST) return refuse(KeepRefusal::Busy, JournalPath(folder));
        ::unlink(JournalPath(folder).c_str());
        return refuse(KeepRefusal::WriteFailed, JournalPath(folder), {}, e);
    }
    next();

    auto fail = [&](KeepRefusal why, const std::string& path, int e) {
        RollBack(folder, journal);
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
                RollBack(folder, journal);
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
        auto title = [&](size_t song) {
            if (!plan.titles[song].empty()) return plan.titles[song];
            const std::string name(FileNamePart(finals[song]));
            const size_t dot = name.rfind('.');
            return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        };
        std::string text;
        if (!extras[k].bCue) {
            for (size_t s = 0; s < songs; ++s) {
                text += Seconds(bounds[s], rate) + "\t" + Seconds(bounds[s + 1], rate) + "\t" +
                        Tidy(title(s), "\t") + "\n";
            }
        } else {
            if (!plan.strArtist.empty())
                text += "PERFORMER \"" + Tidy(plan.strArtist, "\"") + "\"\n";
            if (!plan.strAlbum.empty()) text += "TITLE \"" + Tidy(plan.strAlbum, "\"") + "\"\n";
            text += "FILE \"" + Tidy(std::string(FileNamePart(take.strSide)), "\"") + "\" WAVE\n";
            for (size_t s = 0; s < songs; ++s) {
                // 75 a second, rounded to the nearest as editors place an index.
                const uint64_t f = (bounds[s] * 150 + rate) / (2 * uint64_t{rate});
                char row[64];
                std::snprintf(row, sizeof row, "  TRACK %02zu AUDIO\n", s + 1);
                text += row;
                text += "    TITLE \"" + Tidy(title(s), "\"") + "\"\n";
                std::snprintf(row, sizeof row, "    INDEX 01 %02llu:%02llu:%02llu\n",
                              static_cast<unsigned long long>(f / 75 / 60),
                              static_cast<unsigned long long>(f / 75 % 60),
                              static_cast<unsigned long long>(f % 75));
                text += row;
            }
        }
        const std::string& temp = journal.created[songs + k].first;
        if (!WriteNewFile(temp, text))
            return fail(KeepRefusal::WriteFailed, *extras[k].pPath, errno);
        next();
    }
    if (!SyncFolder(folder)) return fail(KeepRefusal::WriteFailed, folder, errno);

    // Every new file is whole on the disk: from here on the keep is finished, if need be by
    // the next open.
    journal.bCommit = true;
    if (!ReplaceJournal(folder, journal)) {
        const int e = errno;
        Journal now;
        std::string text;
        // Whether the commit reached the disk decides which way the next open goes.
        if (ReadText(JournalPath(folder), &text) && ParseJournal(text, &now) && !now.bCommit) {
            return fail(KeepRefusal::WriteFailed, JournalPath(folder), e);
        }
        return refuse(KeepRefusal::ReplaceFailed, JournalPath(folder), {}, e);
    }
    next();
    std::string failed;
    if (!Finish(folder, journal, &hook, &step, &failed)) {
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
