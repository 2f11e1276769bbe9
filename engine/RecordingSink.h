// Where the recording thread's two messages go, and who handles them once they arrive.
//
// IRecordingSink is called on the recording thread, without any lock of the recording held: an
// implementation leaves the message where its own thread will find it (a mailbox) and returns
// at once; it never runs the handler inline, never waits for it and never allocates.
// IRecordingListener is what that thread then calls: the window's presenter, the splitter's
// terminal front, the soak.
#pragma once

#include "engine/RecordingOutcome.h"

class IRecordingSink {
public:
    virtual ~IRecordingSink() = default;
    // Recording thread: a block was written.
    virtual void PostRecordingProgress(const RecordingProgress& progress) = 0;
    // Recording thread: posted once, when the thread ends.
    virtual void PostRecordingDone() = 0;
};

class IRecordingListener {
public:
    virtual ~IRecordingListener() = default;
    // The thread that owns the recording control, in the order posted.
    virtual void OnRecordingProgress(const RecordingProgress& progress) = 0;
    virtual void OnRecordingDone() = 0;
};
