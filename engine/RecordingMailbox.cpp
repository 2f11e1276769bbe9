#include "RecordingMailbox.h"

#include "RecordingControl.h"

bool CRecordingMailbox::PostProgress(const RecordingProgress& progress) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const bool wasEmpty = !m_bProgress && !m_bDone;
    if (m_bProgress) {
        m_progress.Absorb(progress);
    } else {
        m_progress = progress;
        m_bProgress = true;
    }
    return wasEmpty;
}

bool CRecordingMailbox::PostDone() {
    std::lock_guard<std::mutex> guard(m_mutex);
    const bool wasEmpty = !m_bProgress && !m_bDone;
    m_bDone = true;
    return wasEmpty;
}

bool CRecordingMailbox::DeliverTo(CRecordingControl& control) {
    RecordingProgress progress;
    bool hasProgress = false;
    bool done = false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        progress = m_progress;
        hasProgress = m_bProgress;
        done = m_bDone;
        m_bProgress = m_bDone = false;
    }
    // The handlers run without m_mutex: they take the recording lock, and the recording thread
    // may post meanwhile.
    if (hasProgress) control.OnRecordingProgress(progress);
    if (done) control.OnRecordingDone();
    return done;
}
