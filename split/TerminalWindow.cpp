#include "TerminalWindow.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>

#include "RecordingControl.h"
#include "SongOutput.h"

namespace {

constexpr int kBarWidth = 30;

// A message box text as one line: its lines joined, without the line ends the fixed texts
// carry.
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

CTerminalWindow::CTerminalWindow(std::ostream& err, bool force, bool showProgress)
    : m_err(err), m_bForce(force), m_bShowProgress(showProgress) {}

void CTerminalWindow::SetBaseFile(const std::string& displayName, const std::string& path) {
    m_strBaseText = displayName;
    m_strBasePath = path;
}

MsgAnswer CTerminalWindow::MessageBox(const std::string& text, const std::string& title,
                                      MsgIcon /*icon*/, MsgButtons buttons) {
    if (buttons != MsgButtons::Ok) {
        // The only question of a recording is the overwrite question; its text names the
        // lowest-numbered song file that exists.
        const std::string head = "The file, ";
        const size_t end = text.find(", exists.");
        m_strExistingFile = text.compare(0, head.size(), head) == 0 && end != std::string::npos
                                ? text.substr(head.size(), end - head.size())
                                : text;
        return m_bForce ? MsgAnswer::Yes : MsgAnswer::No;
    }
    // A failure can reach the window twice (the recording's own message, then the failed
    // close of the same file): once is enough.
    for (const std::string& shown : m_errors) {
        if (shown == text) return MsgAnswer::Ok;
    }
    ClearProgress();
    m_errors.push_back(text);
    std::string body = OneLine(text);
    // The writer's texts name the file; the output saw why it failed. Where the text does not
    // say so already, the system's reason takes the place of the guess.
    if (m_pOutput) {
        for (const CSongOutput::Failure& f : m_pOutput->GetFailures()) {
            const std::string reason = std::strerror(f.nErrno);
            if (body.find(f.strPath) == std::string::npos || body.find(reason) != std::string::npos)
                continue;
            const std::string guess = " Probably in use by another program!";
            const size_t at = body.find(guess);
            if (at != std::string::npos) body.erase(at, guess.size());
            body += " " + reason + ".";
            break;
        }
    }
    if (title == "ERROR") {
        m_err << "vellisto-split: " << body << "\n";
    } else {
        m_err << "vellisto-split: " << title << ": " << body << "\n";
    }
    m_err.flush();
    return MsgAnswer::Ok;
}

void CTerminalWindow::SetItemText(int id, const std::string& text) {
    if (id == IDC_CURFILE) m_strCurFile = text;
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
    return m_mailbox.DeliverTo(*m_pControl);
}

void CTerminalWindow::DrawProgress(double done) {
    if (!m_bShowProgress) return;
    done = std::clamp(done, 0.0, 1.0);
    const int filled = static_cast<int>(done * kBarWidth);
    std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] ";
    const int percent = static_cast<int>(done * 100.0);
    line += (percent < 10 ? "  " : percent < 100 ? " " : "") + std::to_string(percent) + "%  ";
    // "Cur File: SideA3.wav" shows as "SideA3.wav".
    const std::string label = "Cur File: ";
    line += m_strCurFile.compare(0, label.size(), label) == 0 ? m_strCurFile.substr(label.size())
                                                              : m_strCurFile;
    line += "   ";
    m_err << line;
    m_err.flush();
    m_bProgressDrawn = true;
}

void CTerminalWindow::ClearProgress() {
    if (!m_bProgressDrawn) return;
    m_err << "\r" << std::string(kBarWidth + 8 + 64, ' ') << "\r";
    m_err.flush();
    m_bProgressDrawn = false;
}
