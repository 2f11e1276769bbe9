// The recorder's front on a terminal, for vellisto-split: the recording thread's two messages
// wait in a mailbox that the main loop pumps; the progress bar follows the reports, and the
// messages a recording ends with (or an error of the splitter's own writing) become lines on
// stderr, each said once.
//
// Owned by the splitter's main thread for one run. Every member runs on that thread, except
// PostRecordingProgress and PostRecordingDone (recording thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/RecordingMailbox.h"
#include "engine/RecordingSink.h"

class CRecordingControl;
class CSongFiles;

// The progress line on a terminal: a bar, the share done and what is being done (a song file's
// name). Drawn at its first call, at the end and at most ten times a second between; taken away
// before ordinary lines follow. Does nothing unless shown. One thread.
class CProgressBar {
public:
    CProgressBar(std::ostream& err, bool shown) : m_err(err), m_bShown(shown) {}
    // done: 0 to 1.
    void Draw(double done, const std::string& what);
    void Clear();

private:
    std::ostream& m_err;
    bool m_bShown;
    bool m_bDrawn = false;
    std::chrono::steady_clock::time_point m_last{};
};

class CTerminalWindow : public IRecordingSink, public IRecordingListener {
public:
    // err receives the error lines and the progress bar.
    CTerminalWindow(std::ostream& err, bool showProgress);

    void SetControl(CRecordingControl* control) { m_pControl = control; }
    // Names another program took before the run could (the splitter then says so itself): the
    // writer's failure over such a name is not said as the recorder says it.
    void SetTakenNames(std::function<bool(const std::string&)> taken) {
        m_taken = std::move(taken);
    }

    // Recording thread: never blocks for long and never allocates.
    void PostRecordingProgress(const RecordingProgress& progress) override;
    // Recording thread.
    void PostRecordingDone() override;

    // Hands the queued messages to the control, waiting up to timeoutMs for one to arrive.
    // Returns true once the done message has been handled; the report is then in GetReport.
    bool Pump(int timeoutMs);

    // IRecordingListener
    void OnRecordingProgress(const RecordingProgress& progress) override;
    void OnRecordingDone() override;

    // Says an error on a line of its own; a text said already is not said again.
    void ShowError(const std::string& text);
    // The answer of a step of the song files (open, write, finish): a failure is said, as the
    // recorder says it, and sets failed. Returns ok.
    bool Told(bool ok, const CSongFiles& files, bool& failed);

    // Redraws the progress bar (done: 0 to 1); does nothing unless the bar is shown.
    void DrawProgress(double done);
    // Removes the bar so that ordinary lines can follow.
    void ClearProgress();

    // How the recording ended (valid once Pump returned true).
    const RecordingReport& GetReport() const { return m_report; }
    // The error texts said, in order.
    const std::vector<std::string>& GetErrors() const { return m_errors; }

private:
    std::ostream& m_err;
    CProgressBar m_bar;
    CRecordingControl* m_pControl = nullptr;
    std::string m_strCurFile;  // the song file the last report named, as shown
    std::vector<std::string> m_errors;
    RecordingReport m_report;
    std::function<bool(const std::string&)> m_taken;

    // The recording thread's messages wait here; m_nPosted counts the done messages posted,
    // under m_mutex, and m_cond wakes the main loop for them.
    CRecordingMailbox m_mailbox;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    uint64_t m_nPosted = 0;
    uint64_t m_nSeen = 0;  // main loop only
};
