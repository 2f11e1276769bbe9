// Where the recording thread's two messages wait for the user-interface thread: the progress
// reports, merged into one while they wait (each supersedes the last, see
// RecordingProgress::Absorb), and the done message. Posting holds a small lock of its own for a
// few statements and never allocates, so the recording thread never waits on the user
// interface. How the user-interface thread is woken is the window's business: a Post returns
// true when the mailbox was empty, that is when a wake-up is due.
//
// Post*: recording thread. DeliverTo: user-interface thread. m_mutex guards every field; no
// other lock is taken while it is held.
#pragma once

#include <mutex>

#include "engine/RecordingSink.h"

class CRecordingMailbox {
public:
    bool PostProgress(const RecordingProgress& progress);
    bool PostDone();

    // Hands what waits to the listener: the merged progress report first, then the done
    // message. Returns true when the done message was handled.
    bool DeliverTo(IRecordingListener& listener);

private:
    std::mutex m_mutex;
    RecordingProgress m_progress;
    bool m_bProgress = false;
    bool m_bDone = false;
};
