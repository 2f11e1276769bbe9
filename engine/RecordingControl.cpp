#include "engine/RecordingControl.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>

CRecordingControl::CRecordingControl(IRecordingSink* sink, std::unique_ptr<ICaptureBackend> backend,
                                     size_t pathSize)
    : m_pSink(sink),
      m_waveIn(std::move(backend)),
      m_nPathSize(std::clamp<size_t>(pathSize, kPathSize, kLongestPathSize)) {}

CRecordingControl::~CRecordingControl() {
    ForgetMeterLevelSource(this);
    if (m_thread.joinable()) {
        m_bStopFlag = 1;
        m_thread.join();
    }
    if (m_bRecording) {
        // Finish the song file even when the owner goes away without a finish of its own.
        m_waveIn.Close();
        if (m_songFiles) m_songFiles->Finish();
    }
    FreeBlockBuffer();
}

void CRecordingControl::FreeBlockBuffer() {
    delete[] m_pBlockBuffer;
    m_pBlockBuffer = nullptr;
}

void CRecordingControl::SetSettings(const RecSettings& settings,
                                    const OnRejectedSetting& onRejected) {
    m_settings = settings;
    ApplySettings(m_settings, m_analyzer, onRejected);
    m_waveIn.SetDeviceID(static_cast<uint32_t>(m_settings.nWaveInID));
}

StartOutcome CRecordingControl::Prepare(const RecordRequest& request) {
    StartOutcome outcome;
    // Record is disabled while recording, but the hot key toggles it from anywhere.
    if (m_bRecording || m_thread.joinable()) {
        outcome.refusal = StartRefusal::Declined;
        return outcome;
    }
    m_bPrepared = false;
    if (m_writer.GetFileName()[0] == 0 || !request.bHasBaseFile) {
        outcome.refusal = StartRefusal::NoBaseName;
        return outcome;
    }

    // A format from a preset, the profile or a hand-edited file that the analyser would misread
    // (no gap ever found): refused before any question is asked or any file touched.
    if (const auto setting = FindUnsupportedFormat(m_settings, m_waveIn.TakesAnyRate())) {
        outcome.refusal = StartRefusal::FormatUnsupported;
        outcome.setting = *setting;
        outcome.nRate = m_settings.nSamplesPerSec;
        outcome.nBits = static_cast<uint16_t>(m_settings.wBitsPerSample);
        outcome.nChannels = static_cast<uint16_t>(m_settings.wChannels);
        return outcome;
    }

    FreeBlockBuffer();
    if (m_nBufferSize > 0) m_pBlockBuffer = new (std::nothrow) char[m_nBufferSize];
    if (!m_pBlockBuffer) {
        outcome.refusal = StartRefusal::NoMemory;
        return outcome;
    }
    // The song files are written on a thread of their own, fed from a ring allocated once for
    // the control's life; an owner that hands the writer an output of its own keeps it.
    if (!m_pFileOutput && !m_writer.GetOutput()) {
        try {
            m_pFileOutput =
                std::make_unique<CQueuedFileOutput>(kWriteRingBytes, kWriteQueueWrites, 1);
        } catch (const std::bad_alloc&) {
            FreeBlockBuffer();
            outcome.refusal = StartRefusal::NoMemory;
            return outcome;
        } catch (const std::system_error& e) {
            FreeBlockBuffer();
            outcome.refusal = StartRefusal::ThreadNotStarted;
            outcome.strDetail = e.what();
            return outcome;
        }
    }
    if (m_pFileOutput && !m_writer.GetOutput()) m_writer.SetOutput(m_pFileOutput.get());

    const CSongFileName displayNames(request.strShown);
    const CSongFileName songs(request.strPath);
    // Room for any song number in the path fields keeps every later name whole instead of cut
    // off into a different file.
    constexpr size_t kNumberRoom = 10;
    if (songs.Stem().size() + songs.Extension().size() + kNumberRoom >= m_nPathSize ||
        displayNames.Name(1).size() + kNumberRoom >= m_nPathSize) {
        FreeBlockBuffer();
        outcome.refusal = StartRefusal::NameTooLong;
        outcome.strPath = request.strPath;
        return outcome;
    }

    outcome.existing.numbers = songs.ExistingNumbers();
    if (!outcome.existing.numbers.empty()) {
        outcome.existing.nLowest = outcome.existing.numbers.front();
        outcome.existing.strLowest = songs.Name(outcome.existing.nLowest);
    }
    for (size_t i = 0; i < outcome.existing.numbers.size() && i < ExistingSongs::kShownNames; ++i) {
        outcome.existing.shown.push_back(displayNames.Name(outcome.existing.numbers[i]));
    }
    m_pathNames = songs;
    m_displayNames = displayNames;
    m_earlierNumbers = outcome.existing.numbers;
    m_bPrepared = true;
    return outcome;
}

void CRecordingControl::Abandon() {
    if (!m_bPrepared) return;
    m_bPrepared = false;
    FreeBlockBuffer();
}

StartOutcome CRecordingControl::Refuse(StartRefusal refusal, std::string detail) {
    StartOutcome outcome;
    outcome.refusal = refusal;
    outcome.strDetail = std::move(detail);
    if (m_songFiles) {
        if (refusal == StartRefusal::ThreadNotStarted) {
            m_songFiles->Finish();
        } else {
            // Leave no half-made file open in the writer.
            m_songFiles->Abandon();
        }
    }
    if (refusal == StartRefusal::FileNotCreatable || refusal == StartRefusal::ThreadNotStarted) {
        m_waveIn.Stop(m_pBlockBuffer);
    }
    m_waveIn.Close();
    FreeBlockBuffer();
    m_bPrepared = false;
    return outcome;
}

StartOutcome CRecordingControl::Start() {
    if (!m_bPrepared || m_bRecording || m_thread.joinable()) {
        StartOutcome outcome;
        outcome.refusal = StartRefusal::Declined;
        return outcome;
    }

    // The device is checked, opened and started before the first song file is created, so
    // that a device that refuses leaves the previous take's files as they are.
    const RecSettings settings = m_settings;
    const WAVEFORMATEX format =
        MakeWaveFormat(static_cast<short>(settings.wBitsPerSample), settings.nSamplesPerSec,
                       static_cast<short>(settings.wChannels));
    m_waveIn.SetDeviceID(static_cast<uint32_t>(settings.nWaveInID));
    m_waveIn.QueryFormat(&format);
    if (m_waveIn.GetErrorFlag()) {
        // Without any device there is no sound card to blame.
        if (m_waveIn.GetErrorKind() == CaptureError::NoDevice) {
            return Refuse(StartRefusal::NoDevice, m_waveIn.GetErrorText());
        }
        StartOutcome outcome = Refuse(StartRefusal::DeviceFormat, m_waveIn.GetErrorText());
        outcome.nRate = settings.nSamplesPerSec;
        outcome.nBits = static_cast<uint16_t>(settings.wBitsPerSample);
        outcome.nChannels = static_cast<uint16_t>(settings.wChannels);
        return outcome;
    }

    m_waveIn.Open(&format, &CRecordingControl::WaveInNotify, &m_recordingEvent, CALLBACK_FUNCTION);
    if (m_waveIn.GetErrorFlag()) return Refuse(StartRefusal::DeviceOpen, m_waveIn.GetErrorText());

    const double bytesPerSecond = double(format.nAvgBytesPerSec);
    const double wanted = std::ceil(m_fCaptureQueueSeconds * bytesPerSecond /
                                    double(std::max<long>(m_nBufferSize, 1)));
    const int buffers = static_cast<int>(std::clamp(wanted, 2.0, double(CWaveIn::kMaxBuffers)));
    m_waveIn.AllocateBuffers(static_cast<unsigned long>(m_nBufferSize), buffers);
    if (m_waveIn.GetErrorFlag()) {
        return Refuse(StartRefusal::DeviceBuffers, m_waveIn.GetErrorText());
    }

    m_analyzer.PrepareRecording();

    // The device fills its two buffers meanwhile; creating the file takes far less than one.
    m_waveIn.Start();
    if (m_waveIn.GetErrorFlag()) return Refuse(StartRefusal::DeviceStart, m_waveIn.GetErrorText());

    // The writer names the base file while idle (New offers it): a refusal gives it back.
    const std::string baseName = m_writer.GetFileName();
    // The thread opens the next files through the same sequence, naming each into the two
    // fields as it goes: nothing is allocated then.
    m_format = format;
    m_wavEncoder.SetFormat(format, m_nBufferSize);
    m_songFiles.emplace(
        m_pEncoder ? *m_pEncoder : m_wavEncoder,
        [this](long number, char* out, size_t size) {
            return m_pathNames.NameInto(m_szFilePath, m_nPathSize, number) &&
                   m_displayNames.NameInto(m_szDisplayName, m_nPathSize, number) &&
                   static_cast<size_t>(std::snprintf(out, size, "%s", m_szFilePath)) < size;
        },
        CSongFiles::Overflow::NextFile);
    // A block always fits in a file.
    if (m_nMaxSongBytes > 0) {
        m_songFiles->SetMaxSongBytes(
            std::max<uint64_t>(m_nMaxSongBytes, static_cast<uint64_t>(m_nBufferSize)));
    }
    if (!m_songFiles->Open(1)) {
        const SongFileFailure& failure = m_songFiles->Failure();
        StartOutcome outcome = Refuse(StartRefusal::FileNotCreatable, failure.szText);
        outcome.strPath = m_pathNames.Name(1);
        m_writer.SetFileName(baseName.c_str());
        return outcome;
    }

    m_params = RecordingThreadParams{};
    m_params.pSink = m_pSink;
    m_params.pAnalyzer = &m_analyzer;
    m_params.pWriter = &m_writer;
    m_params.pSongFiles = &*m_songFiles;
    m_params.pFormat = &m_format;
    m_params.pWaveIn = &m_waveIn;
    m_params.pBlockBuffer = m_pBlockBuffer;
    m_params.pBufferSize = &m_nBufferSize;
    m_params.pszDisplayName = m_szDisplayName;
    m_params.pszFilePath = m_szFilePath;
    m_params.nPathSize = m_nPathSize;
    m_params.pEvent = &m_recordingEvent;
    m_params.pLock = &m_lock;
    m_params.pStopFlag = &m_bStopFlag;
    m_params.pPathNames = &m_pathNames;
    m_params.pDisplayNames = &m_displayNames;
    m_params.pOutcome = &m_outcome;
    m_params.pMeterLevels = &m_meterLevels;
    m_params.nWaitSliceMs = m_nWaitSliceMs;
    m_params.nNoAudioTimeoutMs = m_nNoAudioTimeoutMs;

    m_bStopFlag = 0;
    m_outcome = RecordingOutcome{};
    m_nTotalBytes = 0;
    m_nSongBytes = 0;
    m_nClippedTotal = 0;
    m_nSongNumber = 1;
    m_threadEnded.Reset();
    try {
        m_thread = std::thread([this] {
            RecordingThreadProc(&m_params);
            m_threadEnded.Set();
        });
    } catch (const std::system_error& e) {
        return Refuse(StartRefusal::ThreadNotStarted, e.what());
    }
    m_bPrepared = false;
    m_bRecording = true;
    return StartOutcome{};
}

void CRecordingControl::OnStop() { m_bStopFlag = 1; }

bool CRecordingControl::StopAndWait(int timeoutMs) {
    if (!m_thread.joinable()) return true;
    m_bStopFlag = 1;
    if (!m_threadEnded.Lock(std::max(timeoutMs, 0))) return false;
    // The signal stays for every later look, the finish's too.
    m_threadEnded.Set();
    return true;
}

void CRecordingControl::OnRecordingProgress(const RecordingProgress& progress) {
    // Everything shown comes from the report: the file its bytes went into and the counters as
    // they were then, whatever the recording thread has done since.
    m_nSongNumber = progress.nSongNumber;
    m_nSongBytes = progress.nSongBytes;
    m_nTotalBytes = progress.nTotalBytes;
    m_nClippedTotal = progress.nClippedTotal;
}

RecordingReport CRecordingControl::MakeReport(const RecordingOutcome& outcome,
                                              bool stopPressed) const {
    RecordingReport report;
    report.bValid = true;
    report.end = outcome.end;
    report.bStopPressed = stopPressed;
    report.failures.assign(outcome.failures, outcome.failures + outcome.nFailures);
    report.nLostFrames = outcome.nLostFrames;
    report.nOverflows = outcome.nOverflows;
    for (int i = 0; i < outcome.nLostSongCount; ++i) {
        report.lostIn.push_back(m_displayNames.Name(outcome.nLostSongs[i]));
    }
    report.bLostInMore = outcome.bLostSongsMore != 0;
    report.nRate = m_settings.nSamplesPerSec;
    report.bNextFileFailed = outcome.bNextFileFailed != 0;
    report.nSongNumber = outcome.nSongNumber;
    report.nLastAudioSong = outcome.nSongNumber - (report.bNextFileFailed ? 1 : 0);
    report.nSongBytes = outcome.nSongBytes;
    report.nTotalBytes = outcome.nTotalBytes;
    report.nClippedTotal = outcome.nClippedTotal;
    const int64_t frameBytes =
        std::max<int64_t>(int64_t(m_settings.wBitsPerSample) / 8 * m_settings.wChannels, 1);
    for (int n = 1; n <= report.nLastAudioSong; ++n) {
        SongFileRecord file;
        file.nNumber = n;
        file.strPath = m_pathNames.Name(n);
        file.strShown = m_displayNames.Name(n);
        file.nBytes = n <= RecordingOutcome::kMaxListedSongs ? outcome.nFileBytes[n - 1] : 0;
        file.nFrames = file.nBytes / frameBytes;
        report.files.push_back(std::move(file));
    }
    return report;
}

RecordingReport CRecordingControl::Finish() {
    if (m_thread.joinable()) {
        // Closing the writer and the device under a running thread would corrupt the song file:
        // make sure it ends, then wait for it (after its done message it has ended already).
        if (!m_threadEnded.Lock(3000)) m_bStopFlag = 1;
        m_thread.join();
    }
    if (!m_bRecording) return RecordingReport{};
    m_bRecording = false;

    // The thread has been joined: what it wrote is ours to read.
    const RecordingOutcome outcome = m_outcome;
    const int stopFlag = m_bStopFlag;
    m_meterLevels.Clear();
    m_lastEnd = outcome.end;
    RecordingReport report = MakeReport(outcome, stopFlag != 0);
    // The report of the last block may have been merged away or still be waiting: the counters
    // end with the recording's own totals.
    m_nSongNumber = outcome.nSongNumber;
    m_nSongBytes = outcome.nSongBytes;
    m_nTotalBytes = outcome.nTotalBytes;
    m_nClippedTotal = outcome.nClippedTotal;

    m_waveIn.Close();
    const bool deviceFailed = m_waveIn.GetErrorFlag() != 0;
    if (deviceFailed) report.strDeviceCloseError = m_waveIn.GetErrorText();

    // The thread closed the last song file: every byte of it has been written.
    const bool writerFailed = outcome.bLastCloseFailed != 0;
    // A file that failed during the recording has been reported already and fails again at its
    // close for the same reason: once is enough.
    if (writerFailed && outcome.end != RecordingEnd::WriterError) {
        report.strWriterCloseError = outcome.szLastCloseError;
    }

    // Only a recording that ended by End Gap leaves trailing files of nothing but silence; after
    // Stop, a device failure or a short block the last file holds the last of the audio.
    if (!deviceFailed && !writerFailed && stopFlag == 0 && outcome.end == RecordingEnd::EndGap) {
        RemoveRunOut(report);
    }

    // A shorter take over an earlier one leaves the earlier one's later songs beside it: they are
    // the user's, and named, not deleted.
    for (long n : m_earlierNumbers) {
        std::error_code ec;
        if (n <= report.nLastAudioSong ||
            !std::filesystem::is_regular_file(m_pathNames.Name(n), ec))
            continue;
        if (report.earlierLeft.size() < ExistingSongs::kShownNames) {
            report.earlierLeft.push_back(m_displayNames.Name(n));
        }
        ++report.nEarlierLeft;
    }

    if (!deviceFailed && stopFlag == 0 && outcome.end == RecordingEnd::EndGap &&
        !m_analyzer.HeardAboveGapLevel()) {
        report.bNothingHeard = true;
        report.nEndGapSeconds = static_cast<int>(m_analyzer.GetEndGap());
    }

    FreeBlockBuffer();
    return report;
}

std::size_t FirstRunOutFile(const std::vector<SongFileRecord>& files, int64_t runOutFrame) {
    if (runOutFrame <= 0) return files.size();
    int64_t start = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0 && start >= runOutFrame) return i;
        start += files[i].nFrames;
    }
    return files.size();
}

void CRecordingControl::RemoveRunOut(RecordingReport& report) const {
    // The analyser says where the silence after the last song began: the files' lengths say
    // nothing, as the last runs on to the end of the block in which the recording ended.
    const std::size_t first = FirstRunOutFile(report.files, m_analyzer.TrailingRunOutFrame());
    for (std::size_t i = first; i < report.files.size(); ++i) {
        SongFileRecord& file = report.files[i];
        if (file.bRemoved) continue;
        // Through the output the songs went to: one that has not put the file under its name
        // yet drops it, and whatever is at that name stays.
        IFileOutput* output = m_writer.GetOutput();
        const int removed =
            output ? output->Remove(file.strPath.c_str()) : ::unlink(file.strPath.c_str());
        if (removed != 0 && errno != ENOENT) {
            if (report.strRemoveFailedPath.empty()) {
                report.strRemoveFailedPath = file.strPath;
                report.strRemoveFailedReason = std::strerror(errno);
            }
        } else {
            file.bRemoved = true;
        }
    }
    if (first < report.files.size() && report.files[first].bRemoved) {
        report.nLastAudioSong = report.files[first].nNumber - 1;
    }
}

void CRecordingControl::GetMeterLevels(int channel, int* power, int* peak, int* clips) {
    m_meterLevels.Read(channel, power, peak, clips);
}

void CRecordingControl::WaveInNotify(void* /*handle*/, unsigned /*message*/, void* instance,
                                     uintptr_t /*param1*/, uintptr_t /*param2*/) {
    static_cast<CEvent*>(instance)->Set();
}
