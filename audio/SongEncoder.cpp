#include "audio/SongEncoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool CWavSongEncoder::Begin(const char* path, long /*number*/) {
    m_writer.SetFileName(path);
    m_writer.Create();
    if (m_writer.GetErrorFlag()) return false;
    m_writer.BeginWave(static_cast<short>(m_format.wBitsPerSample), m_format.nSamplesPerSec,
                       static_cast<short>(m_format.nChannels), m_nBufferSize);
    return !m_writer.GetErrorFlag();
}

bool CWavSongEncoder::Write(const void* data, long count) {
    m_writer.Write(data, count);
    if (m_writer.GetErrorFlag()) return false;
    if (IFileOutput* output = m_writer.GetOutput(); output && count > 0) {
        output->NoteSamples(m_writer.GetHandle(), data, static_cast<size_t>(count));
    }
    return true;
}

bool CWavSongEncoder::WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) {
    if (!m_writer.WriteFrom(from, fromOffset, count, readFailed)) return false;
    if (IFileOutput* output = m_writer.GetOutput(); output && count > 0) {
        output->NoteSamples(m_writer.GetHandle(), nullptr, count);
    }
    return true;
}

bool CWavSongEncoder::Sync() { return m_writer.Sync(); }

bool CWavSongEncoder::Finish() {
    m_writer.Close();
    return !m_writer.GetErrorFlag();
}

CFlacSongEncoder::~CFlacSongEncoder() { Abandon(); }

bool CFlacSongEncoder::Fail(const char* text, int error) {
    m_nErrno = error;
    m_error.Fail("%s", text);
    return false;
}

bool CFlacSongEncoder::Begin(const char* path, long number) {
    m_error.Clear();
    m_nErrno = 0;
    if (IsOpen()) Abandon();
    m_strPath = path;
    const int handle = m_output.Open(path);
    if (handle < 0) {
        const int error = errno;
        m_error.Fail("Cannot create output file %s.\n", path);
        m_nErrno = error;
        return false;
    }
    errno = 0;
    if (!m_flac.Begin(handle, m_strPath, m_format,
                      m_tags ? m_tags(number, m_strPath) : FlacTags{})) {
        const int error = errno != 0 ? errno : EIO;
        m_output.Discard(handle);
        return Fail(m_flac.GetErrorText(), error);
    }
    m_nHandle = handle;
    return true;
}

bool CFlacSongEncoder::Write(const void* data, long count) {
    m_error.Clear();
    errno = 0;
    if (count <= 0) return true;
    if (!m_flac.Write(data, static_cast<size_t>(count))) {
        return Fail(m_flac.GetErrorText(), errno != 0 ? errno : EIO);
    }
    m_output.NoteSamples(m_nHandle, data, static_cast<size_t>(count));
    return true;
}

bool CFlacSongEncoder::WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) {
    constexpr size_t kCopyBytes = 1 << 20;
    *readFailed = false;
    if (!m_pCopy) m_pCopy.reset(new char[kCopyBytes]);
    while (count > 0) {
        const ssize_t n = ::pread(from, m_pCopy.get(), std::min<uint64_t>(count, kCopyBytes),
                                  static_cast<off_t>(fromOffset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *readFailed = true;
            const int error = n < 0 ? errno : EIO;
            m_error.Fail("Cannot read the samples of %s: %s.", m_strPath.c_str(),
                         std::strerror(error));
            m_nErrno = error;
            return false;
        }
        if (!Write(m_pCopy.get(), n)) return false;
        fromOffset += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

bool CFlacSongEncoder::Finish() {
    m_error.Clear();
    if (!IsOpen()) return true;
    errno = 0;
    const bool finished = m_flac.Finish();
    const int error = errno != 0 ? errno : EIO;
    const int handle = m_nHandle;
    m_nHandle = -1;
    // The output publishes (or drops) the file at its close: a stream that failed is not kept.
    if (!finished) {
        m_output.Discard(handle);
        return Fail(m_flac.GetErrorText(), error);
    }
    if (m_output.Close(handle) != 0) {
        const int closeError = errno;
        m_error.Fail("Cannot close output file %s.\n", m_strPath.c_str());
        m_nErrno = closeError;
        return false;
    }
    return true;
}

void CFlacSongEncoder::Abandon() {
    if (!IsOpen()) return;
    m_flac.Finish();  // lets go of the stream before its descriptor goes
    m_output.Discard(m_nHandle);
    m_nHandle = -1;
}
