// Small file steps the take library's writers share: one spelling of a path, names compared
// as a file system that ignores letter case would, whole writes and reads, a new small file
// created exclusively and synced, a folder's entries synced. Plain functions, any thread; a
// false return leaves errno set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One spelling of a path ("./a//b" and "a/b" alike), so that names compare.
std::string Normal(const std::string& path);
// A name in lower case (ASCII letters), as a file system that ignores case compares names.
std::string Folded(std::string name);
bool SyncFolder(const std::string& folder);
// Whether anything (a dangling link too) is at path.
bool Exists(const std::string& path);
// All of data at offset, retried after a signal; a write of nothing counts as EIO.
bool WriteAll(int fd, const char* data, size_t count, uint64_t offset);
// Reads count bytes at offset, however many reads it takes; false with errno set when the file
// fails or ends first.
bool ReadAll(int fd, uint8_t* dst, size_t count, uint64_t offset);
// A whole small file, created exclusively, synced; removed again when that fails.
bool WriteNewFile(const std::string& path, const std::string& text);
// What stands at a name: the file's device and inode, or nothing (absent).
struct FileIdentity {
    bool bPresent = false;
    uint64_t nDevice = 0, nInode = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityAt(const std::string& path);
// Puts the finished file at temp under the name final, without ever replacing a file other
// than the one the caller saw there (seen: what IdentityAt said when the caller decided to
// replace it; absent: nothing may be replaced). A file that came at the name since is never
// replaced: EEXIST. A file system that cannot rename without replacing gets a new link, which
// is as exclusive. False with errno set; temp is then still there.
bool PublishFile(const std::string& temp, const std::string& final, const FileIdentity& seen);
// A whole small file published at path by the rule above, its bytes synced first when it
// replaces one (the older copy is gone once the rename is done). A pipe, a FIFO or a
// terminal at path is written to as it is.
bool PublishText(const std::string& path, const std::string& text, const FileIdentity& seen);
// A file's first MiB (the take's side files are small); false when it cannot be opened.
bool ReadText(const std::string& path, std::string* text);
