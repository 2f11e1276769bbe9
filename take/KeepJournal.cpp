#include "take/KeepJournal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "engine/SongFileName.h"
#include "take/FileSteps.h"

namespace {

constexpr const char* kJournalName = ".vellisto-keep";

void PutPath(std::string& text, const std::string& path) {
    text += ' ' + std::to_string(path.size()) + ':' + path;
}

// The folders with a keep under way in this process: its journal names this process too, and
// an open on another thread must not take it for one interrupted.
std::mutex g_keepingMutex;
std::set<std::string> g_keeping;  // under g_keepingMutex

bool Keeping(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_keepingMutex);
    return g_keeping.count(Normal(folder)) > 0;
}

}  // namespace

std::string KeepJournalPath(const std::string& folder) { return folder + "/" + kJournalName; }

std::string KeepJournalText(const KeepJournal& j) {
    std::string text = "vellisto-keep 1\npid " + std::to_string(j.nPid) + "\nphase " +
                       (j.bCommit ? "commit" : "write") + "\n";
    for (const std::string& path : j.old) {
        text += "old";
        PutPath(text, path);
        text += '\n';
    }
    for (const auto& [temp, final] : j.created) {
        text += "new";
        PutPath(text, temp);
        PutPath(text, final);
        text += '\n';
    }
    return text + "end\n";
}

bool ParseKeepJournal(const std::string& text, KeepJournal* j) {
    size_t at = 0;
    auto word = [&](std::string* out) {
        while (at < text.size() && text[at] == ' ') ++at;
        const size_t end = text.find_first_of(" \n", at);
        if (end == std::string::npos) return false;
        *out = text.substr(at, end - at);
        at = end;
        return true;
    };
    auto path = [&](std::string* out) {
        if (at >= text.size() || text[at] != ' ') return false;
        const size_t colon = text.find(':', ++at);
        if (colon == std::string::npos || colon == at || colon - at > 6) return false;
        for (size_t k = at; k < colon; ++k) {
            if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
        }
        const size_t size = std::stoul(text.substr(at, colon - at));
        if (colon + 1 + size > text.size()) return false;
        *out = text.substr(colon + 1, size);
        at = colon + 1 + size;
        return true;
    };
    auto endLine = [&] { return at < text.size() && text[at++] == '\n'; };
    std::string w, v;
    if (!word(&w) || w != "vellisto-keep" || !word(&v) || v != "1" || !endLine()) return false;
    if (!word(&w) || w != "pid" || !word(&v) || !endLine()) return false;
    j->nPid = std::atol(v.c_str());
    if (!word(&w) || w != "phase" || !word(&v) || !endLine()) return false;
    if (v != "commit" && v != "write") return false;
    j->bCommit = v == "commit";
    for (;;) {
        if (!word(&w)) return false;
        if (w == "end") return endLine();
        std::string a, b;
        if (w == "old" && path(&a) && endLine()) {
            j->old.push_back(a);
        } else if (w == "new" && path(&a) && path(&b) && endLine()) {
            j->created.emplace_back(a, b);
        } else {
            return false;
        }
    }
}

bool ReplaceKeepJournal(const std::string& folder, const KeepJournal& j) {
    const std::string path = KeepJournalPath(folder), beside = path + ".next";
    ::unlink(beside.c_str());
    return WriteNewFile(beside, KeepJournalText(j)) &&
           ::rename(beside.c_str(), path.c_str()) == 0 && SyncFolder(folder);
}

bool RollBackKeep(const std::string& folder, const KeepJournal& j) {
    for (const auto& created : j.created) {
        if (::unlink(created.first.c_str()) != 0 && errno != ENOENT) return false;
    }
    ::unlink((KeepJournalPath(folder) + ".next").c_str());
    return SyncFolder(folder) && ::unlink(KeepJournalPath(folder).c_str()) == 0 &&
           SyncFolder(folder);
}

bool FinishKeep(const std::string& folder, const KeepJournal& j, const KeepStepHook* hook,
                int* step, std::string* failed) {
    auto next = [&] {
        if (hook && *hook) (*hook)(++*step);
    };
    // An old name that a new one spells in other letter case goes first: on a file system that
    // ignores case it is the same entry, which must not be removed after the rename. Only
    // while the temporary file is there, so that doing this again removes nothing new.
    auto sameEntry = [](const std::string& a, const std::string& b) {
        return Folded(std::string(FileNamePart(a))) == Folded(std::string(FileNamePart(b)));
    };
    for (const auto& [temp, final] : j.created) {
        if (!Exists(temp)) {
            next();
            continue;
        }
        for (const std::string& old : j.old) {
            if (old != final && sameEntry(old, final) && ::unlink(old.c_str()) != 0 &&
                errno != ENOENT) {
                *failed = old;
                return false;
            }
        }
        if (::rename(temp.c_str(), final.c_str()) != 0) {
            *failed = final;
            return false;
        }
        next();
    }
    for (const std::string& old : j.old) {
        const bool kept = std::any_of(j.created.begin(), j.created.end(),
                                      [&](const auto& c) { return sameEntry(c.second, old); });
        if (!kept && ::unlink(old.c_str()) != 0 && errno != ENOENT) {
            *failed = old;
            return false;
        }
        if (!kept) next();
    }
    if (!SyncFolder(folder)) {
        *failed = folder;
        return false;
    }
    next();
    ::unlink((KeepJournalPath(folder) + ".next").c_str());
    if (::unlink(KeepJournalPath(folder).c_str()) != 0 || !SyncFolder(folder)) {
        *failed = KeepJournalPath(folder);
        return false;
    }
    return true;
}

CKeepClaim::CKeepClaim(const std::string& folder) : m_strFolder(Normal(folder)) {
    std::lock_guard<std::mutex> guard(g_keepingMutex);
    m_bClaimed = g_keeping.insert(m_strFolder).second;
}

CKeepClaim::~CKeepClaim() {
    if (!m_bClaimed) return;
    std::lock_guard<std::mutex> guard(g_keepingMutex);
    g_keeping.erase(m_strFolder);
}

Recovery RecoverKeep(const std::string& folder, std::string* error) {
    if (Keeping(folder)) {
        if (error) *error = "a keep is under way in " + folder;
        return Recovery::Failed;
    }
    return RecoverClaimedKeep(folder, error);
}

Recovery RecoverClaimedKeep(const std::string& folder, std::string* error) {
    const std::string path = KeepJournalPath(folder);
    std::string text;
    if (!ReadText(path, &text)) {
        if (errno == ENOENT) return Recovery::Nothing;
        if (error) *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
        return Recovery::Failed;
    }
    KeepJournal j;
    if (!ParseKeepJournal(text, &j)) {
        // Cut off while it was first written, before the keep wrote anything else: the commit
        // journal is renamed into place whole.
        ::unlink((path + ".next").c_str());
        if (::unlink(path.c_str()) == 0 && SyncFolder(folder)) return Recovery::RolledBack;
        if (error) *error = std::string("cannot remove ") + path + ": " + std::strerror(errno);
        return Recovery::Failed;
    }
    if (j.nPid != ::getpid() && j.nPid > 0 && ::kill(static_cast<pid_t>(j.nPid), 0) == 0) {
        if (error) *error = "another keep (process " + std::to_string(j.nPid) + ") is running";
        return Recovery::Failed;
    }
    std::string failed;
    if (!j.bCommit) {
        if (RollBackKeep(folder, j)) return Recovery::RolledBack;
        failed = folder;
    } else {
        int step = 0;
        if (FinishKeep(folder, j, nullptr, &step, &failed)) return Recovery::Finished;
    }
    if (error) *error = "cannot finish with " + failed + ": " + std::strerror(errno);
    return Recovery::Failed;
}
