#include "split/SongOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/SongFileName.h"

CSongOutput::CSongOutput(Mode mode, const WAVEFORMATEX& format, bool overwrite)
    : m_mode(mode), m_format(format), m_bOverwrite(overwrite) {
    if (m_mode == Mode::Write) {
        m_pQueue = std::make_unique<CQueuedFileOutput>(kRingBytes, kMaxWrites, kWakeBytes);
    }
}

CSongOutput::~CSongOutput() {
    // What is still queued is written first.
    m_pQueue.reset();
    // A file still open was never finished: it does not stay, not even under its temporary name.
    if (m_mode == Mode::Write && m_nCurrent >= 0) {
        ::close(m_nCurrentFd);
        ::unlink(m_files[static_cast<size_t>(m_nCurrent)].strTemp.c_str());
    }
    for (const File& file : m_files) {
        if (file.bHeld) ::unlink(file.strTemp.c_str());
    }
}

const CSongOutput::File* CSongOutput::Last(const std::string& path) const {
    for (auto it = m_files.rbegin(); it != m_files.rend(); ++it) {
        if (it->strPath == path) return &*it;
    }
    return nullptr;
}

CSongOutput::File* CSongOutput::Last(const std::string& path) {
    return const_cast<File*>(std::as_const(*this).Last(path));
}

bool CSongOutput::Created(const std::string& path) const {
    const File* file = Last(path);
    return file && file->bCreated;
}

bool CSongOutput::Finished(const std::string& path) const {
    const File* file = Last(path);
    return file && file->bFinished;
}

bool CSongOutput::Taken(const std::string& path) const {
    const File* file = Last(path);
    return file && file->bTaken;
}

int CSongOutput::CreateTemp(const std::string& path, std::string* temp) {
    const std::string folder = FolderPart(path);
    std::string name(FileNamePart(path));
    // Within a folder's limit on a name however long the song's name is.
    if (name.size() > 200) name.resize(200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp = folder + "/." + name + "." + std::to_string(::getpid()) + "-" +
                std::to_string(++m_nTempCount) + ".part";
        const int fd = ::open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

ssize_t CSongOutput::Fail(const std::string& path, int error) {
    m_failures.push_back(Failure{path, error});
    errno = error;
    return -1;
}

int CSongOutput::Open(const char* path) {
    File file;
    file.strPath = path;
    int fd = -1;
    if (m_mode == Mode::List) {
        fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } else {
        struct stat st {};
        if (::lstat(path, &st) == 0 && (!m_bOverwrite || S_ISDIR(st.st_mode))) {
            // Every name was free when the run began: another program took this one since.
            file.bTaken = !S_ISDIR(st.st_mode);
            m_files.push_back(file);
            return static_cast<int>(Fail(path, S_ISDIR(st.st_mode) ? EISDIR : EEXIST));
        }
        if (m_bOverwrite) file.seen = IdentityAt(file.strPath);
        fd = CreateTemp(file.strPath, &file.strTemp);
    }
    if (fd < 0) {
        const int error = errno;
        m_files.push_back(file);
        return static_cast<int>(Fail(path, error));
    }
    file.bCreated = true;
    m_files.push_back(file);
    m_nCurrent = static_cast<int>(m_files.size()) - 1;
    m_nCurrentFd = fd;
    m_nCarry = 0;
    if (m_mode == Mode::List) {
        // The stand-in stays empty; the handle only names it.
        ::close(fd);
        return 0;
    }
    return fd;
}

ssize_t CSongOutput::WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) {
    if (m_nCurrent < 0 || handle != (m_mode == Mode::List ? 0 : m_nCurrentFd)) {
        errno = EBADF;
        return -1;
    }
    File& file = m_files[static_cast<size_t>(m_nCurrent)];
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
    if (m_mode == Mode::List) return static_cast<ssize_t>(total);
    if (m_pQueue->WriteAt(handle, pieces, count, offset) < 0) return Fail(file.strPath, errno);
    return static_cast<ssize_t>(total);
}

int CSongOutput::Close(int handle) {
    if (m_nCurrent < 0) {
        errno = EBADF;
        return -1;
    }
    File& file = m_files[static_cast<size_t>(m_nCurrent)];
    m_nCurrent = -1;
    m_nCurrentFd = -1;
    if (m_mode == Mode::List) return 0;
    const int error = m_pQueue->Drain();
    const int closed = ::close(handle);
    int failure = error != 0 ? error : closed != 0 ? errno : 0;
    if (failure == 0 && m_bHold && file.seen.bPresent) {
        // Replaces a file: not before the run knows it keeps this song.
        file.bHeld = true;
        return 0;
    }
    if (failure == 0 && !PublishFile(file.strTemp, file.strPath, file.seen)) {
        failure = errno;
        file.bTaken = failure == EEXIST;
    }
    if (failure != 0) {
        ::unlink(file.strTemp.c_str());
        file.bCreated = !file.bTaken;
        return static_cast<int>(Fail(file.strPath, failure));
    }
    file.bFinished = true;
    return 0;
}

int CSongOutput::Remove(const char* path) {
    File* file = Last(path);
    if (m_mode == Mode::List || !file) return ::unlink(path);
    if (file->bHeld) {
        // The file it was to replace stays as it was.
        ::unlink(file->strTemp.c_str());
        file->bHeld = false;
        file->bCreated = false;
        return 0;
    }
    // Only what this run put at the name is removed.
    if (!file->bFinished) return 0;
    file->bFinished = false;
    return ::unlink(path);
}

bool CSongOutput::PublishHeld() {
    bool ok = true;
    for (File& file : m_files) {
        if (!file.bHeld) continue;
        file.bHeld = false;
        if (PublishFile(file.strTemp, file.strPath, file.seen)) {
            file.bFinished = true;
            continue;
        }
        const int error = errno;
        ::unlink(file.strTemp.c_str());
        file.bTaken = error == EEXIST;
        file.bCreated = false;
        Fail(file.strPath, error);
        ok = false;
    }
    return ok;
}

void CSongOutput::Discard(int handle) {
    if (m_nCurrent < 0) return;
    const File& file = m_files[static_cast<size_t>(m_nCurrent)];
    m_nCurrent = -1;
    m_nCurrentFd = -1;
    if (m_mode == Mode::List) return;
    m_pQueue->Drain();
    ::close(handle);
    ::unlink(file.strTemp.c_str());
}

void CSongOutput::NoteSamples(int handle, const void* data, size_t bytes) {
    if (m_nCurrent < 0 || handle != (m_mode == Mode::List ? 0 : m_nCurrentFd)) return;
    File& file = m_files[static_cast<size_t>(m_nCurrent)];
    file.nDataBytes += bytes;
    if (m_mode == Mode::List && data != nullptr) {
        Measure(file, static_cast<const unsigned char*>(data), bytes);
    }
}

void CSongOutput::Measure(File& file, const unsigned char* bytes, size_t n) {
    const bool int16 = m_format.wBitsPerSample == 16;
    const size_t width = int16 ? 2 : 4;
    auto take = [&](const unsigned char* p) {
        float a;
        bool clipped;
        if (int16) {
            int16_t s;
            std::memcpy(&s, p, 2);
            a = std::fabs(static_cast<float>(s)) / 32768.0f;
            clipped = s >= 32767 || s <= -32767;
        } else {
            float s;
            std::memcpy(&s, p, 4);
            a = std::fabs(s);
            clipped = a >= 1.0f;
        }
        file.fPeak = std::max(file.fPeak, a);
        file.nClipped += clipped;
    };
    while (m_nCarry > 0 && n > 0) {
        m_carry[m_nCarry++] = *bytes++;
        --n;
        if (m_nCarry == width) {
            take(m_carry);
            m_nCarry = 0;
        }
    }
    size_t i = 0;
    if (int16) {
        // In whole numbers, eight at a time where the processor can: the largest magnitude,
        // scaled once, is the largest of the scaled ones, exactly.
        int32_t high = 0, low = 0;
        uint64_t clipped = 0;
#if defined(__SSE2__)
        const size_t whole = n / 16 * 16;
        __m128i most = _mm_setzero_si128(), least = _mm_setzero_si128();
        const __m128i top = _mm_set1_epi16(32766), bottom = _mm_set1_epi16(-32766);
        while (i < whole) {
            // 16-bit counts, added up before they could overflow.
            const size_t stop = std::min<size_t>(whole, i + 16 * 32767);
            __m128i count = _mm_setzero_si128();
            for (; i < stop; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
                most = _mm_max_epi16(most, v);
                least = _mm_min_epi16(least, v);
                count = _mm_sub_epi16(
                    count, _mm_or_si128(_mm_cmpgt_epi16(v, top), _mm_cmplt_epi16(v, bottom)));
            }
            int32_t sums[4];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(sums),
                             _mm_madd_epi16(count, _mm_set1_epi16(1)));
            clipped += static_cast<uint64_t>(sums[0]) + static_cast<uint64_t>(sums[1]) +
                       static_cast<uint64_t>(sums[2]) + static_cast<uint64_t>(sums[3]);
        }
        int16_t lanes[16];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), most);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 8), least);
        for (int k = 0; k < 8; ++k) {
            high = std::max<int32_t>(high, lanes[k]);
            low = std::min<int32_t>(low, lanes[8 + k]);
        }
#endif
        for (; i + 2 <= n; i += 2) {
            int16_t s;
            std::memcpy(&s, bytes + i, 2);
            high = std::max<int32_t>(high, s);
            low = std::min<int32_t>(low, s);
            clipped += s >= 32767 || s <= -32767;
        }
        file.fPeak = std::max(file.fPeak, static_cast<float>(std::max(high, -low)) / 32768.0f);
        file.nClipped += clipped;
    }
    for (; i + width <= n; i += width) take(bytes + i);
    for (; i < n; ++i) m_carry[m_nCarry++] = bytes[i];
}
