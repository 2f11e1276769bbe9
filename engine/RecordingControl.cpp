#include "RecordingControl.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>

namespace {

// The control the LED meters read from. The mutex is held across each read, so that clearing
// the source (or destroying the control) returns only once no read of it is in progress.
std::mutex g_meterSourceMutex;
CRecordingControl* g_pMeterSource = nullptr;  // under g_meterSourceMutex

const char* const kErrorTitle = "ERROR";

std::string Format(const char* format, const std::string& text, long number) {
    const int n = std::snprintf(nullptr, 0, format, text.c_str(), number);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::snprintf(out.data(), out.size() + 1, format, text.c_str(), number);
    return out;
}

}  // namespace

CRecordingControl::CRecordingControl(IRecorderWindow* window,
                                     std::unique_ptr<ICaptureBackend> backend, size_t pathSize)
    : m_pWindow(window),
      m_waveIn(std::move(backend)),
      m_nPathSize(std::clamp<size_t>(pathSize, kPathSize, kLongestPathSize)) {}

CRecordingControl::~CRecordingControl() {
    {
        std::lock_guard<std::mutex> guard(g_meterSourceMutex);
        if (g_pMeterSource == this) g_pMeterSource = nullptr;
    }
    if (m_thread.joinable()) {
        {
            std::lock_guard<CCriticalSection> guard(m_lock);
            m_bStopFlag = 1;
        }
        m_thread.join();
    }
    if (m_bRecording) {
        // Finish the song file even when the window goes away without a finish of its own.
        m_waveIn.Close();
        if (m_writer.IsOpen()) m_writer.Close();
    }
    FreeBlockBuffer();
}

void CRecordingControl::FreeBlockBuffer() {
    delete[] m_pBlockBuffer;
    m_pBlockBuffer = nullptr;
}

void CRecordingControl::ShowError(const std::string& text) {
    m_pWindow->MessageBox(text, kErrorTitle, MsgIcon::Stop, MsgButtons::Ok);
}

void CRecordingControl::EnableRecordingControls(bool recording) {
    for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE}) {
        m_pWindow->EnableItem(id, !recording);
    }
    m_pWindow->EnableItem(IDC_STOP, recording);
}

void CRecordingControl::SetSettings(const RecSettings& settings,
                                    const OnRejectedSetting& onRejected) {
    m_settings = settings;
    ApplySettings(m_settings, m_analyzer, onRejected);
    m_waveIn.SetDeviceID(static_cast<uint32_t>(m_settings.nWaveInID));
}

bool CRecordingControl::IsRecording() {
    std::lock_guard<CCriticalSection> guard(m_lock);
    return m_bRecording != 0;
}

std::string CRecordingControl::GetFilePath() {
    std::lock_guard<CCriticalSection> guard(m_lock);
    return m_szFilePath;
}

RecordingOutcome CRecordingControl::GetLastOutcome() {
    std::lock_guard<CCriticalSection> guard(m_lock);
    return m_outcome;
}

void CRecordingControl::OnRecord() {
    // Record is disabled while recording, but the hot key toggles it from anywhere.
    if (IsRecording() || m_thread.joinable()) return;
    if (m_writer.GetFileName()[0] == 0 || !m_pWindow->HasBaseFileSelection()) {
        m_pWindow->MessageBox("You need to enter a Base File Name.", "Missing Destination",
                              MsgIcon::Warning, MsgButtons::Ok);
        m_pWindow->OnNew();
        return;
    }

    // A format from a preset, the profile or a hand-edited file that the analyser would misread
    // (no gap ever found): refused before any question is asked or any file touched.
    if (const auto setting = FindUnsupportedFormat(m_settings, m_waveIn.TakesAnyRate())) {
        ShowError(UnsupportedFormatText(*setting, m_settings));
        return;
    }

    FreeBlockBuffer();
    if (m_nBufferSize > 0) m_pBlockBuffer = new (std::nothrow) char[m_nBufferSize];
    if (!m_pBlockBuffer) {
        ShowError(
            "Not enough memory to create the recording buffer.\n"
            "Close some programs and try again.\n");
        return;
    }

    const CSongFileName displayNames(m_pWindow->GetBaseFileText());
    const std::string displayName = displayNames.Name(1);
    const std::string basePath = m_pWindow->GetBaseFilePath();
    const CSongFileName songs(basePath);

    // Room for any song number in the path fields keeps every later name whole instead of cut
    // off into a different file.
    constexpr size_t kNumberRoom = 10;
    if (songs.Stem().size() + songs.Extension().size() + kNumberRoom >= m_nPathSize ||
        displayName.size() + kNumberRoom >= m_nPathSize) {
        ShowError("The file name is too long:\n" + basePath + "\n");
        m_pWindow->FocusItem(IDC_BASEFILE);
        FreeBlockBuffer();
        return;
    }

    const long existing = songs.LowestExisting();
    if (existing > 0) {
        const std::string question = Format(
            "The file, %s, exists.\nIf you will be recording %ld song(s),\nthis file and "
            "possibly any sequentially \nnumbered files will be overwritten.\n\nDo you want to "
            "overwrite the file(s)?",
            songs.Name(existing), existing);
        // No is the default: the question may come from the global hot key while the user
        // types elsewhere, and Enter must not overwrite the previous take.
        const MsgAnswer answer = m_pWindow->MessageBox(question, "File Exists", MsgIcon::Question,
                                                       MsgButtons::YesNoDefaultNo);
        const bool stay = m_pWindow->Wait(750);
        if (answer != MsgAnswer::Yes || !stay) {
            FreeBlockBuffer();
            return;
        }
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
        const bool refused = m_waveIn.GetErrorKind() != CaptureError::NoDevice;
        const bool rate48 = refused && settings.nSamplesPerSec == 48000;
        const bool float32 = refused && settings.wBitsPerSample == 32;
        std::string text;
        if (rate48 && float32) {
            text =
                "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease "
                "change one or both of these features in the \nCustomize settings window.\n";
        } else if (rate48) {
            text =
                "Your sound card does not support 48 kHz recording.\nPlease change this "
                "feature in the Customize settings window.\n";
        } else if (float32) {
            text =
                "Your sound card does not support 24 bit recording.\nPlease change this "
                "feature in the Customize settings window.\n";
        } else {
            text = m_waveIn.GetErrorText();
        }
        ShowError(text);
        m_pWindow->FocusItem(IDC_BASEFILE);
        m_waveIn.Close();
        FreeBlockBuffer();
        return;
    }

    m_waveIn.Open(&format, &CRecordingControl::WaveInNotify, &m_recordingEvent, CALLBACK_FUNCTION);
    if (m_waveIn.GetErrorFlag()) {
        ShowError(m_waveIn.GetErrorText());
        m_pWindow->FocusItem(IDC_BASEFILE);
        m_waveIn.Close();
        FreeBlockBuffer();
        return;
    }

    auto failDevice = [this] {
        ShowError(m_waveIn.GetErrorText());
        m_waveIn.Close();
        FreeBlockBuffer();
    };

    m_waveIn.AllocateBuffers(static_cast<unsigned long>(m_nBufferSize));
    if (m_waveIn.GetErrorFlag()) {
        failDevice();
        return;
    }

    m_analyzer.PrepareRecording();

    // The device fills its two buffers meanwhile; creating the file takes far less than one.
    m_waveIn.Start();
    if (m_waveIn.GetErrorFlag()) {
        failDevice();
        return;
    }

    const std::string filePath = songs.Name(1);
    m_writer.SetFileName(filePath.c_str());
    m_writer.Create();
    if (!m_writer.GetErrorFlag()) {
        m_writer.BeginWave(static_cast<short>(settings.wBitsPerSample), settings.nSamplesPerSec,
                           static_cast<short>(settings.wChannels), m_nBufferSize);
    }
    if (m_writer.GetErrorFlag()) {
        ShowError(m_writer.GetErrorText());
        m_pWindow->FocusItem(IDC_BASEFILE);
        // Leave no half-made file open in the writer.
        if (m_writer.IsOpen()) m_writer.Release();
        m_waveIn.Stop(m_pBlockBuffer);
        m_waveIn.Close();
        FreeBlockBuffer();
        return;
    }

    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        std::snprintf(m_szDisplayName, m_nPathSize, "%s", displayName.c_str());
        std::snprintf(m_szFilePath, m_nPathSize, "%s", filePath.c_str());
    }
    m_strCurFileText = "Cur File: " + displayName;
    m_pathNames = songs;
    m_displayNames = displayNames;

    m_params = RecordingThreadParams{};
    m_params.pWindow = m_pWindow;
    m_params.pAnalyzer = &m_analyzer;
    m_params.pWriter = &m_writer;
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
    m_params.nMaxSongBytes =
        std::max<uint64_t>(m_nMaxSongBytes, static_cast<uint64_t>(m_nBufferSize));
    m_params.nWaitSliceMs = m_nWaitSliceMs;
    m_params.nNoAudioTimeoutMs = m_nNoAudioTimeoutMs;

    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        m_bStopFlag = 0;
        m_bRecording = 1;
        m_outcome = RecordingOutcome{};
    }
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
        {
            std::lock_guard<CCriticalSection> guard(m_lock);
            m_bRecording = 0;
        }
        ShowError(std::string("Cannot start the recording thread.\n") + e.what() + "\n");
        m_waveIn.Stop(m_pBlockBuffer);
        m_waveIn.Close();
        m_writer.Close();
        FreeBlockBuffer();
        return;
    }

    EnableRecordingControls(true);
    m_pWindow->FocusItem(IDC_STOP);
}

void CRecordingControl::OnStop() {
    m_pWindow->SetWaitCursor(true);
    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        m_bStopFlag = 1;
    }
    // Leaving the program meanwhile changes nothing here: the recording is stopping anyway.
    (void)m_pWindow->Wait(500);
    m_pWindow->SetWaitCursor(false);
}

// A readout in whole dB, truncated toward zero. NaN (float input holding NaN) counts as the
// readouts' floor and the result is held to a range the meters can take, so that the
// conversion stays defined whatever the input held.
int32_t MeterDecibels(float magnitude) {
    if (std::isnan(magnitude)) magnitude = CSignalAnalyzer::kReadoutFloor;
    const float db = 20.0f * std::log10(magnitude);
    return static_cast<int32_t>(std::trunc(std::clamp(db, -1000.0f, 1000.0f)));
}

// Takes a report's readouts of one channel into the meter values; under the lock.
void CRecordingControl::UpdateMeter(int channel, const RecordingProgress& progress) {
    const float power = progress.fPower[channel];
    const int32_t peak = MeterDecibels(progress.fPeak[channel]);
    const int32_t powerDb =
        MeterDecibels(std::sqrt(std::isnan(power) ? CSignalAnalyzer::kReadoutFloor : power));
    m_nMeterClips[channel] = progress.nClips[channel];
    if (m_bMeterTaken[channel]) {
        m_nMeterPeak[channel] = peak;
        m_nMeterPower[channel] = powerDb;
    } else {
        m_nMeterPeak[channel] = std::max(m_nMeterPeak[channel], peak);
        m_nMeterPower[channel] = std::max(m_nMeterPower[channel], powerDb);
    }
}

void CRecordingControl::FormatTime(int64_t bytes, char* out, size_t outSize, const char* label) {
    const int64_t bits = m_settings.wBitsPerSample;
    const int64_t channels = m_settings.wChannels;
    const int64_t rate = m_settings.nSamplesPerSec;
    const int64_t bytesPerSecond = bits * channels / 8 * rate;
    const int64_t bytesPerMinute = (bits * channels * 60 / 8) * rate;
    long long minutes = 0;
    long long seconds = 0;
    if (bytesPerSecond > 0 && bytesPerMinute > 0) {
        minutes = bytes / bytesPerMinute;
        seconds = bytes / bytesPerSecond - minutes * 60;
    }
    std::snprintf(out, outSize, "%s  %02lld:%02lld", label, minutes, seconds);
}

long CRecordingControl::OnRecordingProgress(const RecordingProgress& progress) {
    ++m_nPictureCounter;
    m_pWindow->ShowRecordingPicture(m_nPictureCounter % 2 == 1);

    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        UpdateMeter(0, progress);
        UpdateMeter(1, progress);
    }
    // Everything shown comes from the report: the file its bytes went into and the counters as
    // they were then, whatever the recording thread has done since.
    m_nSongNumber = progress.nSongNumber;
    m_nSongBytes = progress.nSongBytes;
    m_nTotalBytes = progress.nTotalBytes;
    m_nClippedTotal = progress.nClippedTotal;
    ShowProgress();
    return 1;
}

void CRecordingControl::ShowProgress() {
    const std::string displayName = m_displayNames.Name(m_nSongNumber);
    m_strCurFileText = "Cur File: " + displayName;
    m_pWindow->SetItemText(IDC_CURFILE, m_strCurFileText);

    char text[64];
    std::snprintf(text, sizeof text, "Clipped Pts: %lld", static_cast<long long>(m_nClippedTotal));
    m_pWindow->SetItemText(IDC_CLIPPED, text);
    FormatTime(m_nSongBytes, text, sizeof text, "Song Time");
    m_pWindow->SetItemText(IDC_SONGTIME, text);
    FormatTime(m_nTotalBytes, text, sizeof text, "Total Time");
    m_pWindow->SetItemText(IDC_TOTALTIME, text);

    if (m_pWindow->IsMinimized()) m_pWindow->SetCaption(displayName + ": Zelk Vellisto");
}

std::string CRecordingControl::DescribeLostAudio(const RecordingOutcome& outcome) {
    const double rate = m_settings.nSamplesPerSec > 0 ? m_settings.nSamplesPerSec : 1;
    const auto frames = static_cast<unsigned long long>(outcome.nLostFrames);
    const auto overruns = static_cast<unsigned long long>(outcome.nOverflows);
    char head[320];
    if (frames > 0 && overruns > 0) {
        std::snprintf(head, sizeof head,
                      "Audio was lost: the sound card delivered %llu frame(s) (%.3f seconds) "
                      "that could not be taken in time,\nand it reported %llu overrun(s) of "
                      "unknown length.",
                      frames, static_cast<double>(frames) / rate, overruns);
    } else if (frames > 0) {
        std::snprintf(head, sizeof head,
                      "Audio was lost: the sound card delivered %llu frame(s) (%.3f seconds) "
                      "that could not be taken in time.",
                      frames, static_cast<double>(frames) / rate);
    } else {
        // The host said audio was lost, not how much.
        std::snprintf(head, sizeof head,
                      "Audio was lost: the sound card reported %llu overrun(s); how much audio "
                      "each one lost is not known.",
                      overruns);
    }
    std::string text = std::string(head) + "\nAffected song file(s):";
    for (int i = 0; i < outcome.nLostSongCount; ++i) {
        text += (i == 0 ? " " : ", ") + m_displayNames.Name(outcome.nLostSongs[i]);
    }
    if (outcome.bLostSongsMore) text += " and later files";
    text += "\n";
    return text;
}

long CRecordingControl::OnRecordingDone() {
    if (m_thread.joinable()) {
        if (!m_threadEnded.Lock(3000)) {
            // Closing the writer and the device under a running thread would corrupt the song
            // file: make sure it ends, then wait for it.
            std::lock_guard<CCriticalSection> guard(m_lock);
            m_bStopFlag = 1;
        }
        m_thread.join();
    }

    RecordingOutcome outcome;
    int stopFlag = 0;
    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        if (!m_bRecording) return 1;
        m_bRecording = 0;
        m_pWindow->ShowRecordingPicture(false);
        outcome = m_outcome;
        stopFlag = m_bStopFlag;
    }
    m_lastEnd = outcome.end;
    // The report of the last block may have been merged away or still be waiting: the labels
    // end with the recording's own totals.
    m_nSongNumber = outcome.nSongNumber;
    m_nSongBytes = outcome.nSongBytes;
    m_nTotalBytes = outcome.nTotalBytes;
    m_nClippedTotal = outcome.nClippedTotal;
    ShowProgress();
    // The thread's own ending message comes first, where a box of the thread would have been.
    if (outcome.bError) ShowError(outcome.szError);

    EnableRecordingControls(false);
    if (m_pWindow->IsMinimized()) m_pWindow->SetCaption("DONE: Zelk Vellisto");

    {
        std::lock_guard<CCriticalSection> guard(m_lock);
        for (int ch = 0; ch < 2; ++ch) {
            m_nMeterPeak[ch] = -100;
            m_nMeterPower[ch] = -100;
            m_nMeterClips[ch] = 0;
            m_bMeterTaken[ch] = 0;
        }
    }

    m_waveIn.Close();
    const bool deviceFailed = m_waveIn.GetErrorFlag() != 0;
    if (deviceFailed) ShowError(m_waveIn.GetErrorText());

    bool writerFailed = false;
    // After a failed open of the next song file the writer may hold no file at all.
    if (m_writer.IsOpen()) {
        m_writer.Close();
        writerFailed = m_writer.GetErrorFlag() != 0;
        // A file that failed during the recording has been reported already and fails again
        // here for the same reason: once is enough.
        if (writerFailed && outcome.end != RecordingEnd::WriterError) {
            ShowError(m_writer.GetErrorText());
        }
        // The file is let go even so: a full disk must not stay busy until the program ends.
        if (writerFailed) m_writer.Release();
    }

    if (outcome.nLostFrames > 0 || outcome.nOverflows > 0) ShowError(DescribeLostAudio(outcome));

    // Only a recording that ended by End Gap leaves a trailing file of nothing but silence; after
    // Stop, a device failure or a short block the last file holds the last of the audio.
    const std::string filePath = GetFilePath();
    if (!deviceFailed && !writerFailed && stopFlag == 0 && outcome.end == RecordingEnd::EndGap &&
        m_analyzer.IsShortFile(static_cast<long>(m_nSongBytes))) {
        std::error_code ec;
        if (!std::filesystem::remove(filePath, ec) && ec) {
            ShowError("Cannot delete the short last song file " + filePath + ".\n" + ec.message() +
                      ".\n");
        } else if (m_nSongNumber > 1) {
            // The file shown is gone: show the last one kept.
            m_strCurFileText = "Cur File: " + m_displayNames.Name(m_nSongNumber - 1);
            m_pWindow->SetItemText(IDC_CURFILE, m_strCurFileText);
        }
    }

    FreeBlockBuffer();
    m_pWindow->FocusItem(IDC_RECORD);
    return 1;
}

void CRecordingControl::GetMeterLevels(int channel, int* power, int* peak, int* clips) {
    const int ch = channel == 0 ? 0 : 1;
    std::lock_guard<CCriticalSection> guard(m_lock);
    *power = m_nMeterPower[ch];
    *peak = m_nMeterPeak[ch];
    *clips = m_nMeterClips[ch];
    m_bMeterTaken[ch] = 1;
}

void CRecordingControl::WaveInNotify(void* /*handle*/, unsigned /*message*/, void* instance,
                                     uintptr_t /*param1*/, uintptr_t /*param2*/) {
    static_cast<CEvent*>(instance)->Set();
}

void SetMeterLevelSource(CRecordingControl* control) {
    std::lock_guard<std::mutex> guard(g_meterSourceMutex);
    g_pMeterSource = control;
}

void GetMeterLevels(int channel, int* power, int* peak, int* clips) {
    std::lock_guard<std::mutex> guard(g_meterSourceMutex);
    CRecordingControl* control = g_pMeterSource;
    if (!control) {
        *power = -100;
        *peak = -100;
        *clips = 0;
        return;
    }
    control->GetMeterLevels(channel, power, peak, clips);
}
