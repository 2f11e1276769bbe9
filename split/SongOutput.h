// Where the splitter's song files go: the writer of the recording control hands every file's
// bytes to this output instead of writing them itself.
//
// Write mode: the files are written on a writer thread of their own (CQueuedFileOutput), so
// that the recording thread, which analyses, never waits for the disk. WriteAt queues the bytes
// in a bounded ring and returns; a write that failed is reported by the next WriteAt or Close of
// that file, with its error number. Close waits until the file's bytes are written, closes it
// and reports a failure the same way.
//
// List mode (a dry run): no byte is written. Each Open creates an empty stand-in of that name
// (the splitter names them in a folder of the run's own), so that whatever the recording
// control later deletes is seen; the samples are only counted, with the peak and the clipped
// samples of each file.
//
// Write mode never puts an unfinished song under a song name: each file is written under a
// hidden temporary name in its own folder (".SideA1.wav.<pid>-<n>.part") and renamed to its name
// by a Close that succeeded; a failed one removes it. An existing file of that name is refused
// (EEXIST) unless the output may overwrite, at Open and again at the rename, so a file that
// appeared meanwhile is not replaced either: its name is then "taken", and nothing of this run
// is said to be there. A file the output may overwrite is replaced only if it is still the file
// seen at Open, and only once the run knows the song is kept: such a song waits, finished under
// its temporary name, for PublishHeld when the run holds replacements (Remove drops it, and the
// older file stays).
//
// A FLAC encoder (CFlacSongEncoder) writes its files through the same Open and Close, so FLAC
// songs are kept under the same safety rules; its bytes reach the descriptor Open gave directly.
//
// Both modes remember every file opened, in order, with the sample bytes its encoder took
// (NoteSamples), whatever the container: the songs a run wrote are known exactly, and only
// files this run created are ever cleaned up. One thread at a time
// calls Open, WriteAt and Close (the recording thread while it runs, the splitter's main
// thread before and after); the records are read after the recording has ended.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/FileOutput.h"
#include "audio/QueuedFileOutput.h"
#include "audio/WaveFormat.h"
#include "take/FileSteps.h"

class CSongOutput final : public IFileOutput {
public:
    enum class Mode { Write, List };

    struct File {
        std::string strPath;      // as opened
        std::string strTemp;      // Write mode: where it is written until it is finished
        bool bCreated = false;    // opened (created or truncated) by this run
        bool bFinished = false;   // Write mode: closed well and under its name
        bool bHeld = false;       // Write mode: closed well, to replace strPath at PublishHeld
        bool bTaken = false;      // Write mode: another program put a file at its name first
        FileIdentity seen;        // the file at strPath when it was opened, which it replaces
        uint64_t nDataBytes = 0;  // sample bytes that reached the file (List: that would have)
        float fPeak = 0;          // List mode: largest magnitude, 1.0 = full scale
        uint64_t nClipped = 0;    // List mode: samples at or beyond full scale
    };
    // A failure the writer saw, with the system's reason.
    struct Failure {
        std::string strPath;
        int nErrno = 0;
    };

    // format: the song files' sample format; overwrite: an existing song file may be replaced.
    CSongOutput(Mode mode, const WAVEFORMATEX& format, bool overwrite = false);
    ~CSongOutput() override;
    CSongOutput(const CSongOutput&) = delete;
    CSongOutput& operator=(const CSongOutput&) = delete;

    int Open(const char* path) override;
    ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) override;
    int Close(int handle) override;
    void Discard(int handle) override;
    void NoteSamples(int handle, const void* data, size_t bytes) override;
    int Remove(const char* path) override;
    // Write mode: a song that replaces a file waits for PublishHeld (for a run that decides
    // only at its end which songs it keeps).
    void HoldReplacements() { m_bHold = true; }
    // Write mode: puts the held songs over the files they replace; false when one could not be
    // (it is then a failure, and its temporary file is gone).
    bool PublishHeld();

    Mode GetMode() const { return m_mode; }
    // In the order opened; a path opened twice has two records.
    const std::vector<File>& GetFiles() const { return m_files; }
    const std::vector<Failure>& GetFailures() const { return m_failures; }
    // Was the file at path created by this run (the last record of that path)?
    bool Created(const std::string& path) const;
    // Write mode: was the file at path finished under its name (the last record of that path)?
    bool Finished(const std::string& path) const;
    // Write mode: did another program put a file at path before this run could?
    bool Taken(const std::string& path) const;

private:
    // Write mode's queue: 1 MiB, the writer woken for 256 KiB at a time (a wake-up per block
    // would cost the two threads more than the writing itself).
    static constexpr size_t kRingBytes = 16 * 65536;
    static constexpr size_t kMaxWrites = 64;
    static constexpr size_t kWakeBytes = 4 * 65536;

    void Measure(File& file, const unsigned char* bytes, size_t n);
    ssize_t Fail(const std::string& path, int error);
    // Creates a fresh temporary file for path; its descriptor, or -1 with errno set.
    int CreateTemp(const std::string& path, std::string* temp);
    const File* Last(const std::string& path) const;
    File* Last(const std::string& path);

    Mode m_mode;
    WAVEFORMATEX m_format;
    bool m_bOverwrite;
    bool m_bHold = false;
    unsigned m_nTempCount = 0;  // numbers the temporary names
    std::vector<File> m_files;
    std::vector<Failure> m_failures;
    int m_nCurrent = -1;  // index into m_files of the open file
    int m_nCurrentFd = -1;
    // A sample cut in two between two writes waits here for its other bytes (List mode).
    unsigned char m_carry[4] = {};
    size_t m_nCarry = 0;

    std::unique_ptr<CQueuedFileOutput> m_pQueue;  // Write mode
};
