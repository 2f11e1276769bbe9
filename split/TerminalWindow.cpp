#include "split/TerminalWindow.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "audio/SongFiles.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"

namespace {

constexpr int kBarWidth = 30;

// A message as one line: its lines joined, without the line ends the fixed texts carry.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    std::string line;
    for (char c : text) {
        if (c != '\n') {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    return line;
}

}  // namespace

CTerminalWindow::CTerminalWindow(std::ostream& err, bool showProgress)
    : m_err(err), m_bar(err, showProgress) {}

void CTerminalWindow::ShowError(const std::string& text) {
    if (std::find(m_errors.begin(), m_errors.end(), text) != m_errors.end()) return;
    ClearProgress();
    m_errors.push_back(text);
    m_err << "vellisto-split: " << OneLine(text) << "\n";
    m_err.flush();
}

bool CTerminalWindow::Told(bool ok, const CSongFiles& files, bool& failed) {
    if (ok) return true;
    ShowError(files.Failure().szText);
    failed = true;
    return false;
}

void CTerminalWindow::PostRecordingProgress(const RecordingProgress& progress) {
    // The main loop looks every few milliseconds anyway; waking it for every block of a file
    // read as fast as the disk goes would cost the recording thread more than the split.
    m_mailbox.PostProgress(progress);
}

void CTerminalWindow::PostRecordingDone() {
    m_mailbox.PostDone();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_nPosted;
    }
    m_cond.notify_one();
}

bool CTerminalWindow::Pump(int timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return m_nPosted != m_nSeen; });
        m_nSeen = m_nPosted;
    }
    return m_mailbox.DeliverTo(*this);
}

void CTerminalWindow::OnRecordingProgress(const RecordingProgress& progress) {
    m_pControl->OnRecordingProgress(progress);
    m_strCurFile = m_pControl->ShownName(progress.nSongNumber);
}

void CTerminalWindow::OnRecordingDone() {
    m_report = m_pControl->Finish();
    RecordingReport told = m_report;
    if (m_taken) {
        std::erase_if(told.failures,
                      [this](const RecordingFailure& f) { return m_taken(f.szPath); });
        if (!told.files.empty() && m_taken(told.files.back().strPath)) {
            told.strWriterCloseError.clear();
        }
    }
    for (const std::string& text : recording_texts::EndMessages(told)) ShowError(text);
}

void CTerminalWindow::DrawProgress(double done) { m_bar.Draw(done, m_strCurFile); }

void CTerminalWindow::ClearProgress() { m_bar.Clear(); }

void CProgressBar::Draw(double done, const std::string& what) {
    if (!m_bShown) return;
    done = std::clamp(done, 0.0, 1.0);
    const auto now = std::chrono::steady_clock::now();
    if (m_bDrawn && done < 1.0 && now - m_last < std::chrono::milliseconds(100)) return;
    m_last = now;
    const int filled = static_cast<int>(done * kBarWidth);
    std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] ";
    const int percent = static_cast<int>(done * 100.0);
    line += (percent < 10 ? "  " : percent < 100 ? " " : "") + std::to_string(percent) + "%  ";
    line += what + "   ";
    m_err << line;
    m_err.flush();
    m_bDrawn = true;
}

void CProgressBar::Clear() {
    if (!m_bDrawn) return;
    m_err << "\r" << std::string(kBarWidth + 8 + 64, ' ') << "\r";
    m_err.flush();
    m_bDrawn = false;
}
