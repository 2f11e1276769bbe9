// Where the bytes of a RIFF file go. A CRiffFile writes to the file system itself unless its
// owner hands it an output: the recorder and the splitter write song files on a thread of their
// own (CQueuedFileOutput), and the splitter's dry run counts the bytes without writing them.
//
// Called by whichever thread uses the writer that holds it (one at a time), with the calls of
// one file in order: Open, any number of WriteAt and Sync, Close.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

// Has the file open at fd lost its last name (deleted, or its folder removed)? Its link count
// tells; false when the system cannot say.
inline bool DescriptorUnlinked(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_nlink == 0;
}

class IFileOutput {
public:
    virtual ~IFileOutput() = default;

    // As open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666): a handle of 0 or more, or
    // -1 with errno set.
    virtual int Open(const char* path) = 0;
    // As pwritev at offset: the bytes taken (possibly fewer than offered), or -1 with errno set.
    virtual ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) = 0;
    // As close: 0, or -1 with errno set; the handle is released either way.
    virtual int Close(int handle) = 0;
    // Lets go of a file that is not to be kept (its writer failed): an output that puts finished
    // files under their names drops it instead. The handle is released.
    virtual void Discard(int handle) { Close(handle); }
    // An output that writes later: waits until the bytes handed over so far are written. 0, or
    // -1 with errno set when a write of handle failed.
    virtual int Sync(int /*handle*/) { return 0; }
    // Has the file lost its last name (deleted, or its folder removed)? False when the output
    // cannot tell.
    virtual bool IsUnlinked(int /*handle*/) { return false; }
    // As copy_file_range from the descriptor from at fromOffset to handle at offset: the bytes
    // copied (0 at the end of from), or -1 with errno set; EOPNOTSUPP (the default) when the
    // output cannot, and the caller copies through memory.
    virtual ssize_t CopyAt(int /*handle*/, int /*from*/, uint64_t /*fromOffset*/, size_t /*count*/,
                           uint64_t /*offset*/) {
        errno = EOPNOTSUPP;
        return -1;
    }
    // Removes a file this output wrote that is not to be kept (the run-out after the last song):
    // 0, or -1 with errno set. An output that has not put the file under its name yet only
    // drops it, and never removes what another program put at that name.
    virtual int Remove(const char* path) { return ::unlink(path); }
    // The sample bytes a song encoder took for the file at handle, in order, whatever form they
    // take in the file: an output that keeps account of its songs counts (or measures) them here.
    // data is null for bytes copied from file to file without passing through memory.
    virtual void NoteSamples(int /*handle*/, const void* /*data*/, size_t /*bytes*/) {}
};

// The file system itself, for a writer that needs an output to hand it descriptors.
class CDirectFileOutput final : public IFileOutput {
public:
    int Open(const char* path) override {
        return ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) override {
        return ::pwritev(handle, pieces, count, static_cast<off_t>(offset));
    }
    int Close(int handle) override { return ::close(handle); }
    bool IsUnlinked(int handle) override { return DescriptorUnlinked(handle); }
};
