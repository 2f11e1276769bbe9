#include "engine/RecordingMailbox.h"

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

bool CRecordingMailbox::DeliverTo(IRecordingListener& listener) {
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
    // The handlers run without m_mutex: they may take locks of their own, and the recording thread
    // may post meanwhile.
    if (hasProgress) listener.OnRecordingProgress(progress);
    if (done) listener.OnRecordingDone();
    return done;
}
