// The recorder's window as a terminal sees it, for vellisto-split: the overwrite question is
// answered from --force, "ERROR" boxes become lines on stderr, the labels are kept for the
// progress bar, and the recording thread's two posted messages wait in a queue that the main
// loop pumps into the recording control.
//
// Owned by the splitter's main thread for one run. Every member runs on that thread, except
// PostRecordingProgress and PostRecordingDone (recording thread, recording lock held).
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "RecorderWindow.h"
#include "RecordingMailbox.h"

class CRecordingControl;
class CSongOutput;

class CTerminalWindow : public IRecorderWindow {
public:
    // err receives the error texts and the progress bar; force answers the overwrite question.
    CTerminalWindow(std::ostream& err, bool force, bool showProgress);

    void SetControl(CRecordingControl* control) { m_pControl = control; }
    // The song files' output, whose failures give the system's reason to the writer's texts.
    void SetOutput(const CSongOutput* output) { m_pOutput = output; }
    void SetBaseFile(const std::string& displayName, const std::string& path);

    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int, bool) override {}
    void FocusItem(int) override {}
    void SetCaption(const std::string&) override {}
    void ShowRecordingPicture(bool) override {}
    void SetWaitCursor(bool) override {}
    bool IsMinimized() override { return false; }
    bool HasBaseFileSelection() override { return true; }
    std::string GetBaseFileText() override { return m_strBaseText; }
    std::string GetBaseFilePath() override { return m_strBasePath; }
    void OnNew() override {}
    // Nothing on a terminal needs the pause a message box needs to vanish.
    bool Wait(int) override { return true; }

    // Recording thread: never blocks for long and never allocates.
    void PostRecordingProgress(const RecordingProgress& progress) override;
    // Recording thread.
    void PostRecordingDone() override;

    // Hands the queued messages to the control, waiting up to timeoutMs for one to arrive.
    // Returns true once the done message has been handled.
    bool Pump(int timeoutMs);

    // Redraws the progress bar (done: 0 to 1); does nothing unless the bar is shown.
    void DrawProgress(double done);
    // Removes the bar so that ordinary lines can follow.
    void ClearProgress();

    // Was the overwrite question asked, and about which file?
    bool WasAskedToOverwrite() const { return !m_strExistingFile.empty(); }
    const std::string& GetExistingFile() const { return m_strExistingFile; }
    // The error texts shown, in order; a text shown already is not shown again.
    const std::vector<std::string>& GetErrors() const { return m_errors; }

private:
    std::ostream& m_err;
    bool m_bForce;
    bool m_bShowProgress;
    bool m_bProgressDrawn = false;
    CRecordingControl* m_pControl = nullptr;
    const CSongOutput* m_pOutput = nullptr;
    std::string m_strBaseText;
    std::string m_strBasePath;
    std::string m_strCurFile;  // the "Cur File: " label
    std::string m_strExistingFile;
    std::vector<std::string> m_errors;

    // The recording thread's messages wait here; m_nPosted counts the done messages posted,
    // under m_mutex, and m_cond wakes the main loop for them.
    CRecordingMailbox m_mailbox;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    uint64_t m_nPosted = 0;
    uint64_t m_nSeen = 0;  // main loop only
};
