// The keep's journal: a small file in the take's folder (".vellisto-keep") that makes a keep's
// replacement of song files all or nothing. It names the keeping process, its phase ("write"
// while the new files are written under temporary names, "commit" once they are all whole on
// the disk), the old files and each new file's temporary and final path. A keep killed before
// the commit leaves the old take and temporary files that RecoverKeep removes; killed after it,
// RecoverKeep finishes the replacement. The keep writes it; opening a take recovers first, so
// both stand on this unit and neither on the other.
//
// Plain functions, any thread; a folder is claimed by one keep of this process at a time
// (CKeepClaim), so that a recovery on another thread does not take a running keep for one
// interrupted.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct KeepJournal {
    long nPid = 0;
    bool bCommit = false;
    std::vector<std::string> old;
    std::vector<std::pair<std::string, std::string>> created;  // temporary, final
};

// Called at each step of a keep with its number, from 1 on; tests end the process there to
// see what an interrupted keep leaves.
using KeepStepHook = std::function<void(int step)>;

std::string KeepJournalPath(const std::string& folder);
// Paths are written with their length, so that any byte may be in them.
std::string KeepJournalText(const KeepJournal& j);
bool ParseKeepJournal(const std::string& text, KeepJournal* j);
// Writes the journal over itself in one step: beside it, synced, renamed, folder synced.
bool ReplaceKeepJournal(const std::string& folder, const KeepJournal& j);
// Removes the new files' temporary copies and the journal: the old take stays.
bool RollBackKeep(const std::string& folder, const KeepJournal& j);
// The commit, from wherever it stopped: every step can be done again. *failed names the path
// a step failed on.
bool FinishKeep(const std::string& folder, const KeepJournal& j, const KeepStepHook* hook,
                int* step, std::string* failed);

// Claims a folder for a keep of this process while it lives; Claimed() is false when another
// keep of this process holds it.
class CKeepClaim {
public:
    explicit CKeepClaim(const std::string& folder);
    ~CKeepClaim();
    CKeepClaim(const CKeepClaim&) = delete;
    CKeepClaim& operator=(const CKeepClaim&) = delete;
    bool Claimed() const { return m_bClaimed; }

private:
    std::string m_strFolder;
    bool m_bClaimed = false;
};

enum class Recovery { Nothing, RolledBack, Finished, Failed };
// Finishes or undoes a keep interrupted in folder; the keep's temporary files are removed.
Recovery RecoverKeep(const std::string& folder, std::string* error = nullptr);
// The same for the keep that holds the folder's claim (it recovers before it writes).
Recovery RecoverClaimedKeep(const std::string& folder, std::string* error);
