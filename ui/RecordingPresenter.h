// The main window's side of a recording: turns the recording control's values into the
// window's boxes, questions, control states, labels and caption, and tells observers (the
// desktop integration, say) when a recording starts and how it ended; it leaves the take list
// (take/TakeList.h) of the song files a recording wrote beside them.
//
// The main window owns one beside its recording control and hands it the recording thread's
// messages from its mailbox. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/RecordingSink.h"
#include "ui/RecorderView.h"

class CRecordingControl;

// Told about recordings, on the user-interface thread: a start once the window shows it, an end
// as soon as it is known, before the window's boxes about it.
class IRecordingObserver {
public:
    virtual ~IRecordingObserver() = default;
    // Record is about to open the capture device: whoever else holds it lets it go now.
    virtual void OnRecordingStarting() {}
    virtual void OnRecordingStarted() {}
    virtual void OnRecordingEnded(const RecordingReport& /*report*/) {}
};

class CRecordingPresenter : public IRecordingListener {
public:
    CRecordingPresenter(IRecorderView& view, CRecordingControl& control);

    void OnRecord();
    void OnStop();
    // The window is leaving: stops a running recording and finishes it without waiting for the
    // thread's done message (which, when it comes, changes nothing). False when the recording
    // thread has not ended within timeoutMs, as its last bytes wait for a slow disk: the
    // recording is left running, for FinishLeftRecording.
    bool StopAndFinish(int timeoutMs);
    // After a StopAndFinish that returned false, with the window gone: waits as long as the disk
    // takes, finishes the recording and returns what went wrong, in words (none: all is written).
    std::vector<std::string> FinishLeftRecording();

    // IRecordingListener
    void OnRecordingProgress(const RecordingProgress& progress) override;
    void OnRecordingDone() override;

    // Observers stay registered until removed; they must outlive their registration.
    void AddObserver(IRecordingObserver* observer);
    void RemoveObserver(IRecordingObserver* observer);

    const std::string& GetCurFileText() const { return m_strCurFileText; }

private:
    void EnableRecordingControls(bool recording);
    void ShowError(const std::string& text);
    // Shows the current file, the clipped points and the two times from the control's counters.
    void ShowProgress();
    // Takes back the busy cursor of Stop, once.
    void RestoreCursor();

    IRecorderView& m_view;
    CRecordingControl& m_control;
    std::vector<IRecordingObserver*> m_observers;
    std::string m_strCurFileText;
    // Flips the recording picture on every progress message, for the whole run.
    uint64_t m_nPictureCounter = 0;
    bool m_bWaitCursor = false;  // Stop's busy cursor is shown
};
