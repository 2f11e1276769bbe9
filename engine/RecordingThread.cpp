#include "engine/RecordingThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "audio/SongFiles.h"
#include "audio/capture/WaveIn.h"
#include "engine/MeterLevels.h"
#include "engine/RecordingSink.h"
#include "engine/SignalAnalyzer.h"
#include "engine/Sync.h"

namespace {

// Only this thread is raised, not the whole process: the capture backend's own thread and the
// user interface keep their priority. Without the right to raise it the thread simply runs at
// normal priority.
void RaiseThreadPriority() {
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10);
    pthread_setname_np(pthread_self(), "vellisto-rec");
}

class CBlockLoop {
public:
    explicit CBlockLoop(const RecordingThreadParams& params) : m_p(params) {}

    void Run();

private:
    bool WaitForBuffer();
    // Reads, analyses and writes one block and fills in its report; under the lock.
    void HandleBlock(long byteCount, RecordingProgress* progress);
    bool WritePiece(const char* data, long count, RecordingProgress* progress);
    bool NextFile(RecordingProgress* progress);
    // Notes the file the song files were at before they moved on to the next one.
    void MovedOn(long number, uint64_t bytes, bool opened, RecordingProgress* progress);
    bool WriterFailed();
    void CheckFileStillThere();
    void NoteLostFrames();
    void NoteOutcome();
    void CloseLastFile();
    void Fail(FailureKind kind, int number, const char* path, const char* text);
    void NoteFileBytes();
    void NoteWarnings(long byteCount, RecordingProgress* progress);
    // Hands the last block's levels to the meters and its report to the owner; without the lock.
    void Report(const RecordingProgress& progress);

    RecordingThreadParams m_p;
    CSongFiles* m_pFiles = nullptr;
    RecordingOutcome* m_pOut = nullptr;
    char* m_pBlock = nullptr;
    long m_nBufferSize = 0;
    int m_nSongNumber = 1;
    bool m_bEndGapReached = false;
    uint64_t m_nSongBytes = 0;  // sample bytes in the current file
    int64_t m_nTotalBytes = 0;
    int64_t m_nClippedTotal = 0;
    uint64_t m_nLostSeen = 0;
    uint64_t m_nOverflowsSeen = 0;
    // The warnings' state: whether anything reached Gap Level since Record, and the clipped
    // samples of each of the last seconds of audio (by second number modulo the window).
    int m_bSoundHeard = 0;
    int64_t m_nWarnFrames = 0;
    int64_t m_nNoSoundFrames = 0;
    int64_t m_nClipSecond = 0;
    int64_t m_nClipsBySecond[RecordingProgress::kClipWindowSeconds] = {};
    short m_wBits = 16;
    unsigned long m_nRate = 44100;
    int m_nBlockAlign = 4;
    int m_nNoAudioMs = 10000;
    RecordingEnd m_end = RecordingEnd::None;
    // The analyser's readouts of the last block, per channel, taken under the lock for the
    // meters.
    float m_fPeak[2] = {0, 0};
    float m_fPower[2] = {0, 0};
    int32_t m_nClips[2] = {0, 0};
};

void CBlockLoop::Fail(FailureKind kind, int number, const char* path, const char* text) {
    // Keep the first failure in front; a later one (Stop after a writer failure) follows.
    if (m_pOut->nFailures >= RecordingOutcome::kMaxFailures) return;
    RecordingFailure& f = m_pOut->failures[m_pOut->nFailures++];
    f.kind = kind;
    f.nNumber = number;
    std::snprintf(f.szPath, sizeof f.szPath, "%s", path ? path : "");
    std::snprintf(f.szText, sizeof f.szText, "%s", text ? text : "");
}

// The current song file's size in the outcome's list of files.
void CBlockLoop::NoteFileBytes() {
    if (m_nSongNumber >= 1 && m_nSongNumber <= RecordingOutcome::kMaxListedSongs) {
        m_pOut->nFileBytes[m_nSongNumber - 1] = static_cast<int64_t>(m_nSongBytes);
    }
}

bool CBlockLoop::WriterFailed() {
    const SongFileFailure& failure = m_pFiles->Failure();
    switch (failure.step) {
        case SongFileStep::None:
            return false;
        case SongFileStep::Name: {
            char name[CErrorState::kTextSize];
            std::snprintf(name, sizeof name, "%s%ld%s", m_p.pPathNames->Stem().c_str(),
                          failure.nNumber, m_p.pPathNames->Extension().c_str());
            Fail(FailureKind::NextNameTooLong, static_cast<int>(failure.nNumber), nullptr, name);
            m_pOut->bNextFileFailed = 1;
            break;
        }
        case SongFileStep::Open:
            Fail(FailureKind::Writer, static_cast<int>(failure.nNumber), failure.szPath,
                 failure.szText);
            m_pOut->bNextFileFailed = 1;
            break;
        case SongFileStep::Write:
        case SongFileStep::Finish:
            Fail(FailureKind::Writer, static_cast<int>(failure.nNumber), failure.szPath,
                 failure.szText);
            break;
    }
    m_end = RecordingEnd::WriterError;
    return true;
}

void CBlockLoop::MovedOn(long number, uint64_t bytes, bool opened, RecordingProgress* progress) {
    if (m_pFiles->Number() == number) return;
    m_nSongNumber = static_cast<int>(number);
    m_nSongBytes = bytes;
    NoteFileBytes();
    m_nSongNumber = static_cast<int>(m_pFiles->Number());
    m_nSongBytes = 0;
    NoteFileBytes();
    if (opened) ++progress->nNewFiles;
}

// Closes the current song file and opens the next numbered one with the same format.
// Recording thread, under the lock.
bool CBlockLoop::NextFile(RecordingProgress* progress) {
    const long number = m_pFiles->Number();
    const uint64_t bytes = m_pFiles->SongBytes();
    const bool opened = m_pFiles->Open();
    MovedOn(number, bytes, opened, progress);
    return opened || !WriterFailed();
}

// Appends count bytes to the current song file, first going on in the next numbered file when
// they would carry it past the size limit. Recording thread, under the lock.
bool CBlockLoop::WritePiece(const char* data, long count, RecordingProgress* progress) {
    const long number = m_pFiles->Number();
    const uint64_t bytes = m_pFiles->SongBytes();
    const bool written = m_pFiles->Write(data, count > 0 ? static_cast<uint64_t>(count) : 0);
    // A write that failed after going on in the next file did open it.
    const SongFileStep failed = m_pFiles->Failure().step;
    MovedOn(number, bytes, failed == SongFileStep::None || failed == SongFileStep::Write, progress);
    if (!written && WriterFailed()) return false;
    m_nSongBytes = m_pFiles->SongBytes();
    return true;
}

// A song file deleted while it is written (or its folder removed) would take every later byte
// into an unlinked file, lost without a word: its link count tells. Under the lock.
void CBlockLoop::CheckFileStillThere() {
    if (m_end != RecordingEnd::None || !m_pFiles->IsFileRemoved()) return;
    Fail(FailureKind::FileRemoved, m_nSongNumber, m_p.pszFilePath, nullptr);
    m_end = RecordingEnd::FileRemoved;
}

// Notes a loss the capture side reported since the last block against the current song file.
void CBlockLoop::NoteLostFrames() {
    const uint64_t lost = m_p.pWaveIn->GetLostFrames();
    const uint64_t overflows = m_p.pWaveIn->GetOverflowCount();
    if (lost <= m_nLostSeen && overflows <= m_nOverflowsSeen) return;
    m_nLostSeen = lost;
    m_nOverflowsSeen = overflows;
    m_pOut->nLostFrames = lost;
    m_pOut->nOverflows = overflows;
    const int count = m_pOut->nLostSongCount;
    if (count > 0 && m_pOut->nLostSongs[count - 1] == m_nSongNumber) return;
    if (count < RecordingOutcome::kMaxLostSongs) {
        m_pOut->nLostSongs[count] = m_nSongNumber;
        m_pOut->nLostSongCount = count + 1;
    } else {
        m_pOut->bLostSongsMore = 1;
    }
}

// Finishes the last song file before the done message: its bytes may still wait for a slow
// disk, and this thread, not the window's, waits for them. Under the lock.
void CBlockLoop::CloseLastFile() {
    CSongFiles& files = *m_pFiles;
    if (!files.IsOpen()) return;  // the next file failed to open
    // A write handed to the writer thread may have failed after this thread last wrote: a failed
    // write ends the recording as a writer failure, however late it is learned.
    if (m_end != RecordingEnd::WriterError && !files.Sync() && WriterFailed()) NoteOutcome();
    if (files.Finish()) return;
    m_pOut->bLastCloseFailed = 1;
    std::snprintf(m_pOut->szLastCloseError, sizeof m_pOut->szLastCloseError, "%s",
                  files.Failure().szText);
    // The file is let go even so: a full disk must not stay busy until the program ends.
    files.Abandon();
}

void CBlockLoop::NoteOutcome() {
    m_pOut->end = m_end;
    m_pOut->nSongNumber = m_nSongNumber;
    m_pOut->nSongBytes = static_cast<int64_t>(m_nSongBytes);
    m_pOut->nTotalBytes = m_nTotalBytes;
    m_pOut->nClippedTotal = m_nClippedTotal;
    NoteFileBytes();
}

void CBlockLoop::NoteWarnings(long byteCount, RecordingProgress* progress) {
    const CSignalAnalyzer& analyser = *m_p.pAnalyzer;
    const int64_t frameBytes = std::max<int64_t>(m_nBlockAlign, 1);
    const int64_t rate = std::max<int64_t>(static_cast<int64_t>(m_nRate), 1);
    // The peak readout is a magnitude with 1.0 full scale; the gap level is kept in sample
    // units, which for 16-bit blocks are out of 32768.
    const float gapLevel =
        m_wBits == 16 ? analyser.m_fLinearGapLevel / 32768.0f : analyser.m_fLinearGapLevel;
    if (byteCount > 0 && std::max(analyser.m_fPeak[0], analyser.m_fPeak[1]) >= gapLevel) {
        m_bSoundHeard = 1;
    }
    m_nWarnFrames += byteCount > 0 ? byteCount / frameBytes : 0;
    progress->bNoSoundYet = !m_bSoundHeard && m_nWarnFrames >= m_nNoSoundFrames;

    constexpr int kWindow = RecordingProgress::kClipWindowSeconds;
    const int64_t second = m_nWarnFrames / rate;
    for (int64_t s = m_nClipSecond + 1; s <= second && s <= m_nClipSecond + kWindow; ++s) {
        m_nClipsBySecond[s % kWindow] = 0;
    }
    m_nClipSecond = second;
    m_nClipsBySecond[second % kWindow] += analyser.ClippedSamples();
    int64_t recent = 0;
    for (int64_t clips : m_nClipsBySecond) recent += clips;
    progress->nRecentClips = recent;
}

void CBlockLoop::HandleBlock(long byteCount, RecordingProgress* progress) {
    CSignalAnalyzer& analyser = *m_p.pAnalyzer;
    const BlockVerdict verdict = analyser.ProcessBlock(m_pBlock, byteCount);
    if (verdict.endGapReached) m_bEndGapReached = true;
    if (!verdict.gapFound) {
        WritePiece(m_pBlock, byteCount, progress);
    } else {
        const long split = std::clamp(verdict.splitOffset, 0L, byteCount);
        if (WritePiece(m_pBlock, split, progress) && NextFile(progress)) {
            WritePiece(m_pBlock + split, byteCount - split, progress);
        }
    }
    CheckFileStillThere();
    NoteLostFrames();

    m_nTotalBytes += byteCount > 0 ? byteCount : 0;
    m_nClippedTotal += analyser.ClippedSamples();
    progress->nByteCount = byteCount;
    progress->nSongNumber = m_nSongNumber;
    progress->nSongBytes = static_cast<int64_t>(m_nSongBytes);
    progress->nTotalBytes = m_nTotalBytes;
    progress->nClippedTotal = m_nClippedTotal;
    NoteWarnings(byteCount, progress);
    for (int ch = 0; ch < 2; ++ch) {
        m_fPeak[ch] = analyser.m_fPeak[ch];
        m_fPower[ch] = analyser.m_fPower[ch];
        m_nClips[ch] = analyser.m_nClipCount[ch];
    }
}

void CBlockLoop::Report(const RecordingProgress& progress) {
    // The meters' lock is never taken under the recording lock (the lock map): the meter thread
    // then never waits for a block's disk work.
    if (m_p.pMeterLevels) m_p.pMeterLevels->Deposit(m_fPeak, m_fPower, m_nClips);
    // Posted without the lock: the window's own queue has a lock of its own.
    m_p.pSink->PostRecordingProgress(progress);
}

// Waits for the next filled buffer. The device's completion flag decides, the event only wakes
// the thread: the event does not count, so two completions can leave one signal (and a buffer
// ready with none pending), and a signal can outlive the buffer it announced. The wait is cut
// into slices, so that Stop is seen and a device that has gone quiet is noticed. Returns false
// when the loop must end.
bool CBlockLoop::WaitForBuffer() {
    const auto since = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard<CCriticalSection> guard(*m_p.pLock);
            if (m_p.pWaveIn->IsBufferDone()) return true;
            if (m_p.pStopFlag->load()) {
                m_end = RecordingEnd::Stop;
                return false;
            }
        }
        if (std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(m_nNoAudioMs)) {
            std::lock_guard<CCriticalSection> guard(*m_p.pLock);
            Fail(FailureKind::NoAudio, (m_nNoAudioMs + 999) / 1000, nullptr, nullptr);
            m_end = RecordingEnd::NoAudio;
            return false;
        }
        m_p.pEvent->Lock(m_p.nWaitSliceMs);
    }
}

void CBlockLoop::Run() {
    {
        std::lock_guard<CCriticalSection> guard(*m_p.pLock);
        m_pOut = m_p.pOutcome;
        m_pFiles = m_p.pSongFiles;
        m_nSongNumber = static_cast<int>(m_pFiles->Number());
        m_pBlock = static_cast<char*>(m_p.pBlockBuffer);
        m_nBufferSize = *m_p.pBufferSize;
        const WAVEFORMATEX* format = m_p.pFormat;
        m_wBits = static_cast<short>(format->wBitsPerSample);
        m_nRate = format->nSamplesPerSec;
        m_nBlockAlign = format->nBlockAlign;
        m_nNoSoundFrames = RecordingProgress::NoSoundWarningFrames(
            m_p.pAnalyzer->m_nEndGapSamples / 2, static_cast<int64_t>(m_nRate));
        m_nNoAudioMs = m_p.nNoAudioTimeoutMs;
        if (m_nNoAudioMs <= 0) {
            const uint64_t bytesPerSec = std::max<uint32_t>(format->nAvgBytesPerSec, 1);
            const uint64_t bufferMs = static_cast<uint64_t>(m_nBufferSize) * 1000 / bytesPerSec;
            m_nNoAudioMs = static_cast<int>(std::max<uint64_t>(10000, 3 * bufferMs));
        }
        NoteOutcome();
    }

    while (WaitForBuffer()) {
        long byteCount = 0;
        RecordingProgress progress;
        {
            std::lock_guard<CCriticalSection> guard(*m_p.pLock);
            byteCount = static_cast<long>(m_p.pWaveIn->ReadBuffer(m_pBlock));
            HandleBlock(byteCount, &progress);
            if (m_end == RecordingEnd::None) {
                if (m_p.pStopFlag->load()) {
                    m_end = RecordingEnd::Stop;
                } else if (m_bEndGapReached) {
                    m_end = RecordingEnd::EndGap;
                }
            }
            NoteOutcome();
        }
        Report(progress);
        if (m_end != RecordingEnd::None) break;
        std::this_thread::yield();
        if (byteCount != m_nBufferSize) {
            m_end = RecordingEnd::ShortBlock;
            break;
        }
    }

    // Stop hands back the buffer the device was filling, and a second one when the device
    // completed it meanwhile. After the Stop button their audio belongs to the recording:
    // everything captured up to the press. A recording that ended by itself has no use for the
    // audio after its end.
    long stopped = 0;
    {
        std::lock_guard<CCriticalSection> guard(*m_p.pLock);
        stopped = static_cast<long>(m_p.pWaveIn->Stop(m_pBlock));
        if (m_p.pWaveIn->GetErrorFlag()) {
            Fail(FailureKind::DeviceStop, 0, nullptr, m_p.pWaveIn->GetErrorText());
        }
    }
    while (m_end == RecordingEnd::Stop && stopped > 0) {
        RecordingProgress progress;
        {
            std::lock_guard<CCriticalSection> guard(*m_p.pLock);
            HandleBlock(stopped, &progress);
            NoteOutcome();
            stopped = static_cast<long>(m_p.pWaveIn->ReadStopped(m_pBlock));
        }
        Report(progress);
    }
    {
        std::lock_guard<CCriticalSection> guard(*m_p.pLock);
        char failure[CErrorState::kTextSize / 2];
        if (m_end == RecordingEnd::ShortBlock &&
            m_p.pWaveIn->GetDeviceFailure(failure, sizeof failure)) {
            Fail(FailureKind::DeviceFailed, 0, nullptr, failure);
            m_end = RecordingEnd::DeviceError;
        }
        NoteLostFrames();
        NoteOutcome();
        CloseLastFile();
    }
    m_p.pSink->PostRecordingDone();
}

}  // namespace

unsigned int RecordingThreadProc(void* param) {
    RaiseThreadPriority();
    RecordingThreadParams params;
    {
        auto* shared = static_cast<RecordingThreadParams*>(param);
        std::lock_guard<CCriticalSection> guard(*shared->pLock);
        params = *shared;
    }
    CBlockLoop loop(params);
    loop.Run();
    return 1;
}
