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
// A whole small file, created exclusively, synced; removed again when that fails.
bool WriteNewFile(const std::string& path, const std::string& text);
// A file's first MiB (the take's side files are small); false when it cannot be opened.
bool ReadText(const std::string& path, std::string* text);
