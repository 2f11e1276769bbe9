#include "take/Take.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "audio/WaveFileReader.h"
#include "engine/SongFileName.h"
#include "take/KeepJournal.h"
#include "take/TakeList.h"

std::vector<std::string> Take::Paths() const {
    std::vector<std::string> paths;
    for (const TakeFile& f : files) paths.push_back(f.strPath);
    return paths;
}

namespace {

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample &&
           a.nBlockAlign == b.nBlockAlign;
}

// The base a numbered song file belongs to (SideA12.wav: SideA.wav) and its number; 0 when the
// name carries no song number.
long SplitNumber(const std::string& path, std::string* base) {
    const size_t at = SongNumberPosition(path);
    const size_t fileStart = path.size() - FileNamePart(path).size();
    size_t first = at;
    while (first > fileStart && path[first - 1] >= '0' && path[first - 1] <= '9') --first;
    if (first == at || first == fileStart || path[first] == '0' ||
        at - first > kMaxSongNumberDigits) {
        return 0;
    }
    *base = path.substr(0, first) + path.substr(at);
    return std::stol(path.substr(first, at - first));
}

bool OlderThan(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec < b.st_mtim.tv_sec ||
           (a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec < b.st_mtim.tv_nsec);
}

// A take without a list: its files by number, up to one another recording left. A recording
// writes its songs one after the other in one format, so a file in another format, or one last
// written before the first song was finished, is an earlier take's.
TakeOpening NumberedTake(const std::string& base, const std::vector<long>& numbers) {
    std::vector<std::string> paths;
    const CSongFileName names(base);
    for (size_t k = 0; k < numbers.size(); ++k) {
        const long expected = static_cast<long>(k) + 1;
        if (numbers[k] != expected) {
            TakeOpening opening;
            opening.refusal = TakeRefusal::NumberMissing;
            opening.strPath = names.Name(expected);
            opening.nNumber = expected;
            return opening;
        }
        paths.push_back(names.Name(expected));
    }
    size_t kept = paths.size();
    LeftOutReason why = LeftOutReason::None;
    struct stat first {};
    WavFileInfo firstInfo;
    for (size_t k = 0; k < paths.size() && why == LeftOutReason::None; ++k) {
        struct stat st {};
        WavFileInfo info;
        std::string error;
        // A file that cannot be read is refused as it is, by OpenTakeFiles.
        if (::stat(paths[k].c_str(), &st) != 0 || !ReadWavFileInfo(paths[k], &info, &error)) break;
        if (k == 0) {
            first = st;
            firstInfo = info;
        } else if (!SameFormat(info.format, firstInfo.format)) {
            why = LeftOutReason::FormatDiffers;
        } else if (OlderThan(st, first)) {
            why = LeftOutReason::Older;
        }
        if (why != LeftOutReason::None) kept = k;
    }
    TakeOpening opening =
        OpenTakeFiles(std::vector<std::string>(paths.begin(), paths.begin() + long(kept)), base);
    if (opening.Ok() && kept < paths.size()) {
        opening.leftOut.assign(paths.begin() + long(kept), paths.end());
        opening.leftOutReason = why;
    }
    return opening;
}

// The take its list names, when every file is there with the frames listed; nothing else.
std::optional<TakeOpening> ListedTake(const std::string& base,
                                      const std::vector<TakeListEntry>& entries,
                                      const std::vector<long>& numbers) {
    const std::string prefix = base.substr(0, base.size() - FileNamePart(base).size());
    std::vector<std::string> paths;
    for (const TakeListEntry& e : entries) paths.push_back(prefix + e.strName);
    TakeOpening opening = OpenTakeFiles(paths, base);
    if (!opening.Ok()) return std::nullopt;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (opening.take.files[k].nFrames != entries[k].nFrames) return std::nullopt;
    }
    const CSongFileName names(base);
    for (long n : numbers) {
        const std::string name(FileNamePart(names.Name(n)));
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const TakeListEntry& e) { return e.strName == name; })) {
            opening.leftOut.push_back(names.Name(n));
        }
    }
    if (!opening.leftOut.empty()) opening.leftOutReason = LeftOutReason::NotListed;
    return opening;
}

}  // namespace

TakeOpening OpenTake(const std::string& path) {
    std::string error;
    if (RecoverKeep(FolderPart(path), &error) == Recovery::Failed) {
        TakeOpening opening;
        opening.refusal = TakeRefusal::Recovery;
        opening.strPath = FolderPart(path);
        opening.strDetail = error;
        return opening;
    }
    std::string base = path, numbered;
    std::vector<long> numbers;
    if (const long number = SplitNumber(path, &numbered)) {
        // A name that merely ends in a digit is a side of its own unless it has companions.
        numbers = CSongFileName(numbered).ExistingNumbers();
        if (std::find(numbers.begin(), numbers.end(), number) != numbers.end() &&
            (number == 1 || numbers.size() > 1)) {
            base = numbered;
        }
    }
    if (base == path) numbers = CSongFileName(path).ExistingNumbers();
    std::string stale;
    if (std::vector<TakeListEntry> entries; ReadTakeList(base, &entries)) {
        if (std::optional<TakeOpening> listed = ListedTake(base, entries, numbers)) {
            return std::move(*listed);
        }
        stale = TakeListPath(base);
    }
    if (!numbers.empty()) {
        TakeOpening opening = NumberedTake(base, numbers);
        opening.strStaleList = stale;
        return opening;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        TakeOpening opening;
        opening.refusal = errno == ENOENT ? TakeRefusal::NotFound : TakeRefusal::Unreadable;
        opening.nErrno = errno;
        opening.strPath = path;
        return opening;
    }
    TakeOpening opening = OpenTakeFiles({path}, path);
    opening.take.bSongFiles = false;
    opening.strStaleList = stale;
    return opening;
}

TakeOpening OpenTakeFiles(const std::vector<std::string>& paths, const std::string& side) {
    TakeOpening opening;
    std::string error;
    if (!paths.empty() && RecoverKeep(FolderPart(paths.front()), &error) == Recovery::Failed) {
        opening.refusal = TakeRefusal::Recovery;
        opening.strPath = FolderPart(paths.front());
        opening.strDetail = error;
        return opening;
    }
    Take& take = opening.take;
    take.strSide = side;
    auto refuse = [&](TakeRefusal why, const std::string& path, const std::string& detail,
                      int error = 0) {
        opening.refusal = why;
        opening.strPath = path;
        opening.strDetail = detail;
        opening.nErrno = error;
        opening.take = Take{};
        return opening;
    };
    if (paths.empty()) return refuse(TakeRefusal::NotFound, side, "");
    for (const std::string& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            const int error = errno;
            return refuse(error == ENOENT ? TakeRefusal::NotFound : TakeRefusal::Unreadable, path,
                          std::strerror(error), error);
        }
        if (!S_ISREG(st.st_mode)) return refuse(TakeRefusal::Stream, path, "");
        WavFileInfo info;
        std::string error;
        if (!ReadWavFileInfo(path, &info, &error)) {
            return refuse(info.problem == WavProblem::Unreadable ? TakeRefusal::Unreadable
                                                                 : TakeRefusal::NotWav,
                          path, error);
        }
        if (!take.files.empty() && !SameFormat(info.format, take.format)) {
            return refuse(TakeRefusal::FormatDiffers, path, "");
        }
        if (take.files.empty()) take.format = info.format;
        if (!take.files.empty()) take.cuts.push_back(take.nFrames);
        const uint64_t frames = info.nDataBytes / info.format.nBlockAlign;
        take.files.push_back(TakeFile{path, info.nDataOffset, frames});
        take.nFrames += frames;
    }
    if (take.nFrames == 0) return refuse(TakeRefusal::Empty, side, "");
    return opening;
}

std::string DescribeTakeRefusal(const TakeOpening& o) {
    switch (o.refusal) {
        case TakeRefusal::None:
            return {};
        case TakeRefusal::NotFound:
            return o.strPath + " was not found, nor any song files of that name";
        case TakeRefusal::Unreadable:
            return "cannot read " + o.strPath + ": " +
                   (o.strDetail.empty() ? std::strerror(o.nErrno) : o.strDetail);
        case TakeRefusal::NotWav:
            return o.strDetail;
        case TakeRefusal::Stream:
            return o.strPath + " is not a regular file; a take is read from files";
        case TakeRefusal::FormatDiffers:
            return o.strPath + " holds another sample format than the take's first song file";
        case TakeRefusal::NumberMissing:
            return "song file " + o.strPath +
                   " is missing; the take's songs are numbered 1, 2, 3"
                   " without a gap";
        case TakeRefusal::Empty:
            return o.strPath + " holds no audio";
        case TakeRefusal::Recovery:
            return "an interrupted keep in " + o.strPath +
                   " could not be finished or undone: " + o.strDetail;
    }
    return {};
}

std::string DescribeLeftOut(const TakeOpening& o) {
    std::string text;
    if (!o.strStaleList.empty()) {
        text = "The take list " + o.strStaleList +
               " no longer matches the song files beside it (one is gone or was changed), so "
               "the take was opened by the song numbers.";
    }
    if (o.leftOut.empty()) return text;
    std::string names;
    for (size_t k = 0; k < o.leftOut.size(); ++k) {
        if (k > 0) names += k + 1 == o.leftOut.size() ? " and " : ", ";
        names += FileNamePart(o.leftOut[k]);
    }
    const bool one = o.leftOut.size() == 1;
    std::string why;
    switch (o.leftOutReason) {
        case LeftOutReason::None:
        case LeftOutReason::NotListed:
            why = "the recording's take list does not name ";
            why += one ? "it" : "them";
            break;
        case LeftOutReason::FormatDiffers:
            why = FileNamePart(o.leftOut.front());
            why += " holds another sample format than the take";
            break;
        case LeftOutReason::Older:
            why = FileNamePart(o.leftOut.front());
            why += " is older than the take's first song";
            break;
    }
    if (!text.empty()) text += " ";
    return text + "Left out of the take: " + names + ", as " + why + "; " +
           (one ? "it is" : "they are") + " probably left from an earlier recording.";
}

CTakeReader::CTakeReader(const Take& take) : m_take(take) {
    uint64_t start = 0;
    for (const TakeFile& f : m_take.files) {
        const int fd = ::open(f.strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && m_nErrno == 0) m_nErrno = errno;
        m_fds.push_back(fd);
        m_starts.push_back(start);
        start += f.nFrames;
    }
}

CTakeReader::~CTakeReader() {
    for (int fd : m_fds) {
        if (fd >= 0) ::close(fd);
    }
}

size_t CTakeReader::ReadFrames(uint64_t first, size_t count, void* dst) const {
    const uint64_t frameBytes = m_take.FrameBytes();
    if (frameBytes == 0 || first >= m_take.nFrames) return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, m_take.nFrames - first));
    // The file holding frame first: the last one starting at or before it.
    size_t k = static_cast<size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), first) -
                                   m_starts.begin()) -
               1;
    char* out = static_cast<char*>(dst);
    size_t done = 0;
    while (done < count && k < m_fds.size()) {
        const uint64_t inFile = first + done - m_starts[k];
        const uint64_t take = std::min<uint64_t>(count - done, m_take.files[k].nFrames - inFile);
        uint64_t bytes = take * frameBytes, got = 0;
        const uint64_t offset = m_take.files[k].nDataOffset + inFile * frameBytes;
        while (got < bytes) {
            const ssize_t n = ::pread(m_fds[k], out + done * frameBytes + got, bytes - got,
                                      static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return done + got / frameBytes;
            got += static_cast<uint64_t>(n);
        }
        done += take;
        ++k;
    }
    return done;
}
