#include "ui/RecordingPresenter.h"

#include <algorithm>

#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "engine/SideSummary.h"
#include "take/TakeList.h"

namespace texts = recording_texts;

namespace {

// The files the recording left with audio in them, listed beside them: Review then never takes
// a file an earlier, longer take left after the last song for one of this take's. Without the
// list a take still opens by its numbers, so a list that cannot be written goes unsaid.
void WriteRecordedTakeList(const RecordingReport& report) {
    const SideSummary side = SummarizeSide(report);
    if (side.files.empty()) return;
    std::vector<TakeListFile> files;
    for (const SongFileRecord& f : side.files) {
        files.push_back({f.strPath, static_cast<uint64_t>(f.nFrames)});
    }
    const std::string base = SongFileBase(side.files.front().strPath, side.files.front().nNumber);
    if (!base.empty()) (void)WriteTakeList(base, files);
}

}  // namespace

CRecordingPresenter::CRecordingPresenter(IRecorderView& view, CRecordingControl& control)
    : m_view(view), m_control(control) {}

void CRecordingPresenter::AddObserver(IRecordingObserver* observer) {
    m_observers.push_back(observer);
}

void CRecordingPresenter::RemoveObserver(IRecordingObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void CRecordingPresenter::ShowError(const std::string& text) {
    m_view.MessageBox(text, texts::kErrorTitle, MsgIcon::Stop, MsgButtons::Ok);
}

void CRecordingPresenter::EnableRecordingControls(bool recording) {
    for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE, IDC_REVIEW}) {
        m_view.EnableItem(id, !recording);
    }
    m_view.EnableItem(IDC_STOP, recording);
}

void CRecordingPresenter::OnRecord() {
    if (m_control.IsRecording()) return;
    const RecordRequest request{m_view.HasBaseFileSelection(), m_view.GetBaseFileText(),
                                m_view.GetBaseFilePath()};
    const StartOutcome prepared = m_control.Prepare(request);
    switch (prepared.refusal) {
        case StartRefusal::None:
            break;
        case StartRefusal::Declined:
            return;
        case StartRefusal::NoBaseName:
            m_view.MessageBox(texts::RefusalText(prepared), texts::RefusalTitle(prepared.refusal),
                              MsgIcon::Warning, MsgButtons::Ok);
            m_view.OnNew();
            return;
        default:
            ShowError(texts::RefusalText(prepared));
            if (prepared.refusal == StartRefusal::NameTooLong) m_view.FocusItem(IDC_BASEFILE);
            return;
    }

    if (prepared.existing.nLowest > 0) {
        // No is the default: the question may come from the global hot key while the user
        // types elsewhere, and Enter must not overwrite a take.
        const MsgAnswer answer =
            m_view.MessageBox(texts::OverwriteQuestion(prepared.existing), texts::kExistsTitle,
                              MsgIcon::Question, MsgButtons::YesNoDefaultNo);
        const bool stay = m_view.Wait(750);
        if (answer != MsgAnswer::Yes || !stay) {
            m_control.Abandon();
            return;
        }
    }

    for (IRecordingObserver* observer : m_observers) observer->OnRecordingStarting();
    const StartOutcome started = m_control.Start();
    if (started.Refused()) {
        if (started.refusal == StartRefusal::Declined) return;
        ShowError(texts::RefusalText(started));
        // Where the base file or the settings have to change, the base file is where to start.
        if (started.refusal == StartRefusal::DeviceFormat ||
            started.refusal == StartRefusal::NoDevice ||
            started.refusal == StartRefusal::DeviceOpen ||
            started.refusal == StartRefusal::FileNotCreatable) {
            m_view.FocusItem(IDC_BASEFILE);
        }
        return;
    }
    m_strCurFileText = texts::CurFileLabel(m_control.ShownName(1));
    EnableRecordingControls(true);
    m_view.FocusItem(IDC_STOP);
    for (IRecordingObserver* observer : m_observers) observer->OnRecordingStarted();
}

void CRecordingPresenter::OnStop() {
    m_view.SetWaitCursor(true);
    m_bWaitCursor = true;
    m_control.OnStop();
    // Leaving the program meanwhile changes nothing here: the recording is stopping anyway.
    (void)m_view.Wait(500);
    RestoreCursor();
}

void CRecordingPresenter::RestoreCursor() {
    if (!m_bWaitCursor) return;
    m_bWaitCursor = false;
    m_view.SetWaitCursor(false);
}

bool CRecordingPresenter::StopAndFinish(int timeoutMs) {
    if (!m_control.IsRecording()) return true;
    if (!m_control.StopAndWait(timeoutMs)) return false;
    OnRecordingDone();
    return true;
}

std::vector<std::string> CRecordingPresenter::FinishLeftRecording() {
    if (!m_control.IsRecording()) return {};
    const RecordingReport report = m_control.Finish();
    if (!report.bValid) return {};
    WriteRecordedTakeList(report);
    return texts::EndMessages(report);
}

void CRecordingPresenter::OnRecordingProgress(const RecordingProgress& progress) {
    ++m_nPictureCounter;
    m_view.ShowRecordingPicture(m_nPictureCounter % 2 == 1);
    m_control.OnRecordingProgress(progress);
    ShowProgress();
    m_view.SetItemText(IDC_WARNING, texts::RecordingWarning(progress));
}

void CRecordingPresenter::ShowProgress() {
    const std::string shown = m_control.ShownName(m_control.GetSongNumber());
    m_strCurFileText = texts::CurFileLabel(shown);
    m_view.SetItemText(IDC_CURFILE, m_strCurFileText);

    const RecSettings& s = m_control.m_settings;
    m_view.SetItemText(IDC_CLIPPED, texts::ClippedLabel(m_control.GetClippedTotal()));
    m_view.SetItemText(IDC_SONGTIME,
                       texts::SongTimeLabel(m_control.GetSongBytes(), s.wBitsPerSample, s.wChannels,
                                            s.nSamplesPerSec));
    m_view.SetItemText(IDC_TOTALTIME,
                       texts::TotalTimeLabel(m_control.GetTotalBytes(), s.wBitsPerSample,
                                             s.wChannels, s.nSamplesPerSec));
    if (m_view.IsMinimized()) m_view.SetCaption(texts::RecordingCaption(shown));
}

void CRecordingPresenter::OnRecordingDone() {
    const RecordingReport report = m_control.Finish();
    if (!report.bValid) return;
    WriteRecordedTakeList(report);
    // The end is usually handled within Stop's pause: its boxes and the summary wait for the
    // user, who must not see the busy cursor over them.
    RestoreCursor();
    // Before any box: a box of the end may wait for hours.
    for (IRecordingObserver* observer : m_observers) observer->OnRecordingEnded(report);
    m_view.ShowRecordingPicture(false);
    m_view.SetItemText(IDC_WARNING, "");
    // The labels end with the recording's own totals.
    ShowProgress();

    const std::vector<std::string> messages = texts::EndMessages(report);
    size_t next = 0;
    // The thread's own ending message comes first, before the window is given back.
    if (!report.failures.empty()) ShowError(messages[next++]);
    EnableRecordingControls(false);
    if (m_view.IsMinimized()) m_view.SetCaption(texts::DoneCaption());
    for (; next < messages.size(); ++next) ShowError(messages[next]);
    if (const std::string silent = texts::NothingHeardText(report); !silent.empty()) {
        m_view.MessageBox(silent, texts::kCaption, MsgIcon::Information, MsgButtons::Ok);
    }
    if (const std::string earlier = texts::EarlierTakeText(report); !earlier.empty()) {
        m_view.MessageBox(earlier, texts::kCaption, MsgIcon::Information, MsgButtons::Ok);
    }

    // The file shown may hold no audio (a next file that failed to open) or be gone (the
    // trailing silence): show the last one that holds audio, with its own song time.
    if (report.nLastAudioSong >= 1 && report.nLastAudioSong != report.nSongNumber) {
        m_strCurFileText = texts::CurFileLabel(m_control.ShownName(report.nLastAudioSong));
        m_view.SetItemText(IDC_CURFILE, m_strCurFileText);
        const size_t kept = static_cast<size_t>(report.nLastAudioSong - 1);
        if (kept < report.files.size()) {
            const RecSettings& s = m_control.m_settings;
            m_view.SetItemText(IDC_SONGTIME,
                               texts::SongTimeLabel(report.files[kept].nBytes, s.wBitsPerSample,
                                                    s.wChannels, s.nSamplesPerSec));
        }
    }
    // The writer was left naming the last song file, perhaps one deleted: it names the selected
    // base file again, which New offers and a song file's name would only extend.
    m_control.GetWriter().SetFileName(m_view.GetBaseFilePath().c_str());
    m_view.FocusItem(IDC_RECORD);
}
