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
    void Wait(int) override {}

    // Recording thread: never blocks for long and never allocates.
    void PostRecordingProgress(long byteCount, long newFile) override;
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
    struct Message {
        long nByteCount = 0;
        long nNewFile = 0;
    };
    // Progress messages waiting for the main loop. Consecutive ones within one song file are
    // merged (byte counts add up), which keeps the song and total byte counters exact however
    // late the main loop runs, so the ring only needs room for the song files begun meanwhile.
    static constexpr size_t kRingSize = 4096;

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

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::array<Message, kRingSize> m_ring{};
    uint64_t m_nHead = 0;        // under m_mutex
    uint64_t m_nTail = 0;        // under m_mutex
    bool m_bDonePosted = false;  // under m_mutex
};
