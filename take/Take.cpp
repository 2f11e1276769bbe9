#include "take/Take.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/WaveFileReader.h"
#include "engine/SongFileName.h"
#include "take/KeepJournal.h"

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
    return OpenTakeFiles(paths, base);
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
    std::string base;
    if (const long number = SplitNumber(path, &base)) {
        // A name that merely ends in a digit is a side of its own unless it has companions.
        const std::vector<long> numbers = CSongFileName(base).ExistingNumbers();
        if (std::find(numbers.begin(), numbers.end(), number) != numbers.end() &&
            (number == 1 || numbers.size() > 1)) {
            return NumberedTake(base, numbers);
        }
    }
    const std::vector<long> numbers = CSongFileName(path).ExistingNumbers();
    if (!numbers.empty()) return NumberedTake(path, numbers);
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
