#include "take/TakeList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "engine/SongFileName.h"
#include "take/FileSteps.h"

namespace {

constexpr std::string_view kFirstLine = "vellisto take list 1\n";

bool PlainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string TakeListPath(const std::string& base) {
    const std::string_view name = FileNamePart(base);
    return base.substr(0, base.size() - name.size()) + "." + std::string(name) + ".take";
}

std::string TakeListText(const std::vector<TakeListEntry>& entries) {
    std::string text(kFirstLine);
    for (const TakeListEntry& e : entries) {
        if (!PlainName(e.strName)) return {};
        text += std::to_string(e.nFrames) + "\t" + e.strName + "\n";
    }
    return text;
}

bool ParseTakeList(std::string_view text, std::vector<TakeListEntry>* entries) {
    entries->clear();
    if (!text.starts_with(kFirstLine) || text.back() != '\n') return false;
    text.remove_prefix(kFirstLine.size());
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const size_t tab = line.find('\t');
        TakeListEntry entry;
        const char* digits = line.data();
        const char* digitsEnd = line.data() + std::min(tab, line.size());
        const auto [at, error] = std::from_chars(digits, digitsEnd, entry.nFrames);
        if (tab == std::string_view::npos || tab == 0 || error != std::errc() || at != digitsEnd ||
            !PlainName(line.substr(tab + 1))) {
            entries->clear();
            return false;
        }
        entry.strName = line.substr(tab + 1);
        for (const TakeListEntry& e : *entries) {
            if (e.strName == entry.strName) {
                entries->clear();
                return false;
            }
        }
        entries->push_back(std::move(entry));
    }
    return !entries->empty();
}

bool WriteTakeList(const std::string& base, const std::vector<TakeListFile>& files) {
    std::vector<TakeListEntry> entries;
    const std::string folder = Normal(FolderPart(base));
    for (const TakeListFile& f : files) {
        if (Normal(FolderPart(f.strPath)) != folder) {
            errno = EINVAL;
            return false;
        }
        entries.push_back({std::string(FileNamePart(f.strPath)), f.nFrames});
    }
    const std::string text = TakeListText(entries);
    const std::string path = TakeListPath(base);
    struct stat st {};
    // Only a list of ours is replaced; a pipe or a folder under its name is left alone.
    const bool there = ::lstat(path.c_str(), &st) == 0;
    if (entries.empty() || text.empty() || (there && !S_ISREG(st.st_mode))) {
        errno = EINVAL;
        return false;
    }
    return PublishText(path, text, IdentityAt(path));
}

bool ReadTakeList(const std::string& base, std::vector<TakeListEntry>* entries) {
    entries->clear();
    const std::string path = TakeListPath(base);
    struct stat st {};
    std::string text;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ReadText(path, &text) &&
           ParseTakeList(text, entries);
}

bool RemoveTakeList(const std::string& base) {
    return ::unlink(TakeListPath(base).c_str()) == 0 || errno == ENOENT;
}

std::string SongFileBase(const std::string& path, long number) {
    const std::string digits = std::to_string(number);
    const size_t at = SongNumberPosition(path);
    if (number <= 0 || at < digits.size() ||
        path.compare(at - digits.size(), digits.size(), digits))
        return {};
    std::string base = path.substr(0, at - digits.size()) + path.substr(at);
    return CSongFileName(base).Name(number) == path ? base : std::string();
}
