// Counts the allocations made on the recording thread (the thread named "vellisto-rec"), for
// the tests that show the block loop and the window's post path allocate nothing. It replaces
// the program's global operator new and delete: link vellisto_thread_allocations only into
// such a test program. Any thread.
#pragma once

namespace testsupport {

// Starts counting from zero.
void StartCountingRecordingThreadAllocations();
// Stops counting; returns the allocations counted.
long StopCountingRecordingThreadAllocations();
// Is the calling thread the recording thread? (The count would see nothing if it had another
// name.)
bool OnRecordingThread();

}  // namespace testsupport
