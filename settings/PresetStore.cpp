#include "settings/PresetStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/Archive.h"
#include "settings/PresetLocation.h"

namespace {

constexpr const char* kPresetFile = kPresetFileName;
constexpr const char* kTempFile = "Temp.pre";
constexpr const char* kOldFile = "Single.pre";
constexpr const char* kOldKeptFile = "SingleOld.pre";

constexpr const char* kOldPresetsQuestion =
    "Do you want to add your old presets to the new ones?\n\n"
    "If you have not changed your presets, we recommend choosing No.\n\n"
    "If you have changed or added presets, we recommend choosing Yes,\n"
    "and your old presets will be saved with the word '[Beta]' after them.\n\n";
constexpr const char* kOldPresetsTitle = "Save Old Presets?";
constexpr const char* kPresetErrorTitle = "Preset Error";

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void CopyBounded(char* dest, size_t destSize, const std::string& src) {
    const size_t n = std::min(src.size(), destSize - 1);
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
}

// The working directory, or "." when it does not fit the path buffers with a file name.
std::string CurrentDirectory() {
    char dir[kPresetPathSize - 32];
    if (::getcwd(dir, sizeof(dir)) == nullptr) return ".";
    return dir;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Gives a file a new name without ever replacing a file that has that name: the plain name
// if it is free, else the name with 1, 2, ... inserted before the extension or appended.
// Empty when nothing worked.
std::string RenameWithoutReplacing(const std::string& from, const std::string& to) {
    for (int n = 0; n < 1000; ++n) {
        std::string candidate = to;
        if (n > 0) {
            const size_t dot = to.rfind('.');
            const size_t slash = to.rfind('/');
            if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                to.compare(dot, std::string::npos, ".pre") == 0) {
                candidate = to.substr(0, dot) + std::to_string(n) + to.substr(dot);
            } else {
                candidate = to + std::to_string(n);
            }
        }
        // link() fails on an existing name, so nothing is ever overwritten (rename(2) would).
        if (::link(from.c_str(), candidate.c_str()) == 0) {
            ::unlink(from.c_str());
            return candidate;
        }
        if (errno == EEXIST) continue;
        // A file system without hard links: check, then rename.
        if (Exists(candidate)) continue;
        if (::rename(from.c_str(), candidate.c_str()) == 0) return candidate;
        return "";
    }
    return "";
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A byte copy that never replaces an existing file, for file systems without hard links.
bool CopyExclusive(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok) ::unlink(to.c_str());
    return ok;
}

// Keeps the presets file under "<name>.damaged" (or a numbered variant) beside it, leaving the
// file itself in place. True when a copy exists or there is nothing to keep.
bool KeepCopyOf(const std::string& path) {
    if (!Exists(path)) return true;
    for (int n = 0; n < 1000; ++n) {
        const std::string candidate = path + ".damaged" + (n > 0 ? std::to_string(n) : "");
        if (::link(path.c_str(), candidate.c_str()) == 0) return true;
        if (errno == EEXIST) continue;
        if (Exists(candidate)) continue;
        return CopyExclusive(path, candidate);
    }
    return false;
}

// Creates a folder and the folders above it that are missing (mode 0700, as the data folder
// of a user should be). True when it exists afterwards.
bool MakeFolders(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && parent != "." && !MakeFolders(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// This program's earlier versions kept their presets in the folder they were started from. When the
// data folder has never held presets, those files are copied in, never moved: the originals stay
// for any older version still in use.
void TakeOverPresets(const std::string& dataDir, const std::string& startDir) {
    if (SameFolder(dataDir, startDir)) return;
    for (const char* name : {kPresetFile, kTempFile, kOldFile, kOldKeptFile}) {
        if (Exists(dataDir + "/" + name)) return;
    }
    for (const char* name : {kPresetFile, kOldFile}) {
        const std::string from = startDir + "/" + name;
        if (Exists(from) && MakeFolders(dataDir)) CopyExclusive(from, dataDir + "/" + name);
    }
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

CPresetStore::CPresetStore(IPresetBox& box, IPrompter& prompter)
    : m_box(box), m_prompter(prompter) {}

void CPresetStore::SetCurrentPresetName(const std::string& name) {
    m_strPreset = CutPresetName(name);
}

void CPresetStore::ReportDamage(const std::string& path, const PresetLoadReport& report) {
    char text[kPresetPathSize + 512];
    std::snprintf(text, sizeof(text),
                  "The presets file %s is damaged (%s).\n\n"
                  "%zu preset(s) could be read and have been kept.\n"
                  "The damaged file itself is kept under another name.\n",
                  path.c_str(), report.strProblem.c_str(), report.nRecovered);
    m_prompter.ShowMessage(text, kPresetErrorTitle, PromptIcon::Warning);
}

void CPresetStore::LoadPresets() { LoadPresets(UserDataFolder(), CurrentDirectory()); }

void CPresetStore::LoadPresets(const std::string& dir, const std::string& startDir) {
    TakeOverPresets(dir, startDir);
    const std::string oldPath = dir + "/" + kOldFile;
    const std::string oldKeptPath = dir + "/" + kOldKeptFile;

    std::vector<CPresets> oldPresets;
    PresetLoadReport oldReport;
    if (Exists(oldPath)) {
        if (m_prompter.AskYesNo(kOldPresetsQuestion, kOldPresetsTitle, PromptIcon::Question)) {
            LoadPresetsFile(oldPath, oldPresets, &oldReport);
        }
        // Whatever the answer, the file moves out of the way so the question comes once. An
        // existing "SingleOld.pre" is never replaced: the file takes a numbered name instead.
        // Only when the folder refuses every rename does the question come again next time.
        RenameWithoutReplacing(oldPath, oldKeptPath);
    }

    CopyBounded(m_szTempPresetPath, sizeof(m_szTempPresetPath), dir + "/" + kTempFile);
    CopyBounded(m_szPresetPath, sizeof(m_szPresetPath), dir + "/" + kPresetFile);
    const std::string tempPath = m_szTempPresetPath;
    const std::string presetPath = m_szPresetPath;

    m_presets.clear();
    m_bKeepOldPresetFile = false;
    m_bMustWrite = false;
    bool loaded = false;
    if (!Exists(presetPath) && Exists(tempPath)) {
        // A save that stopped before its rename. Only a whole file may take the place of the
        // presets file; a partial one would mix old and new presets.
        std::vector<CPresets> fromTemp;
        PresetLoadReport tempReport;
        if (LoadPresetsFile(tempPath, fromTemp, &tempReport)) {
            if (::rename(tempPath.c_str(), presetPath.c_str()) != 0) {
                m_presets = std::move(fromTemp);  // held in memory, saved at exit
                loaded = true;
                m_bMustWrite = true;
            }
        } else if (tempReport.bOpened) {
            RenameWithoutReplacing(tempPath, tempPath + ".damaged");
        }
    }
    // A damaged "Temp.pre" has been moved aside by now; an old version's file counts.
    const bool anyFile = loaded || Exists(presetPath) || Exists(oldKeptPath);
    if (!loaded) {
        PresetLoadReport report;
        if (LoadPresetsFile(presetPath, m_presets, &report)) {
            // A "Temp.pre" beside a whole presets file is what an older save left behind; kept,
            // it would bring its presets back at a start that found the presets file missing.
            if (Exists(tempPath)) ::unlink(tempPath.c_str());
        } else {
            if (report.bOpened) {
                m_bKeepOldPresetFile = true;
                ReportDamage(presetPath, report);
            } else if (report.nErrno != ENOENT) {
                // Present but unreadable: not replaced without keeping it.
                m_bKeepOldPresetFile = true;
            }
        }
    }
    if (oldReport.bDamaged) ReportDamage(oldPath, oldReport);
    // A user who has never had a presets file begins with a few to start from; they are only
    // written once the user changes them.
    if (!anyFile) m_presets = StartingPresets();
    m_savedPresets = m_presets;
    m_bMustWrite = m_bMustWrite || m_bKeepOldPresetFile || !oldPresets.empty();
    for (CPresets& preset : oldPresets) m_presets.push_back(std::move(preset));

    FillPresetCombo();
}

void CPresetStore::SaveStep(const char* step) {
    if (m_saveStepHook) m_saveStepHook(step);
}

bool CPresetStore::SavePresets() {
    const bool ok = WritePresets();
    m_presets.clear();
    m_box.ResetContent();
    return ok;
}

bool CPresetStore::WritePresets() {
    const std::string tempPath = m_szTempPresetPath;
    const std::string presetPath = m_szPresetPath;
    int failure = 0;
    bool ok = !tempPath.empty() && !presetPath.empty();
    if (!ok) failure = ENOENT;

    // Unchanged presets are not written: no file appears where there was none, and a folder
    // that cannot be written is no reason for a message.
    if (ok && !m_bMustWrite && m_presets == m_savedPresets) return true;
    if (ok) MakeFolders(DirectoryOf(presetPath));  // a failure shows as one creating Temp.pre

    if (ok) {
        ::unlink(tempPath.c_str());
        SaveStep("temp deleted");
        // O_EXCL: "Temp.pre" is created anew, never written through whatever still has that
        // name (a directory, a link).
        const int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            ok = false;
            failure = errno;
        } else {
            SaveStep("temp created");
            CArchiveWriter ar([&](const uint8_t* data, size_t size) {
                if (!WriteAll(fd, data, size)) {
                    failure = errno;
                    return false;
                }
                SaveStep("block written");
                return true;
            });
            ok = WritePresetsArchive(m_presets, ar);
            if (ok && ::fsync(fd) != 0) {
                ok = false;
                failure = errno;
            }
            SaveStep("temp synced");
            if (::close(fd) != 0 && ok) {
                ok = false;
                failure = errno;
            }
            if (!ok) ::unlink(tempPath.c_str());
        }
    }
    if (ok) {
        SaveStep("temp closed");
        if (m_bKeepOldPresetFile) {
            if (KeepCopyOf(presetPath)) {
                m_bKeepOldPresetFile = false;
            } else {
                ok = false;
                failure = errno;
                ::unlink(tempPath.c_str());
            }
        }
    }
    if (ok) {
        SaveStep("damaged copy kept");
        // One step from the old file to the new one: there is no moment without a presets file.
        if (::rename(tempPath.c_str(), presetPath.c_str()) != 0) {
            ok = false;
            failure = errno;
            ::unlink(tempPath.c_str());
        } else {
            SaveStep("renamed");
            SyncDirectory(DirectoryOf(presetPath));
            SaveStep("folder synced");
            m_savedPresets = m_presets;
            m_bMustWrite = false;
        }
    }
    if (!ok) {
        char text[2 * kPresetPathSize + 256];
        std::snprintf(text, sizeof(text),
                      "The presets could not be saved to %s (%s).\n\n"
                      "The presets file %s has not been changed.\n",
                      tempPath.c_str(), std::strerror(failure ? failure : EIO), presetPath.c_str());
        m_prompter.ShowMessage(text, kPresetErrorTitle, PromptIcon::Stop);
    }
    return ok;
}

void CPresetStore::FillPresetCombo() { FillPresetCombo(m_box, m_presets, m_strPreset); }

void CPresetStore::FillPresetCombo(IPresetBox& box, const std::vector<CPresets>& presets,
                                   const std::string& currentName) {
    box.ResetContent();
    for (const CPresets& preset : presets) box.AddString(preset.m_strName);
    box.SelectStringExact(currentName);
}

std::optional<RecSettings> CPresetStore::OnSelChangePreset() {
    std::string text;
    if (!m_box.GetSelectedText(text)) return std::nullopt;
    const CPresets* preset = FindPreset(text);
    if (preset == nullptr) return std::nullopt;
    SetCurrentPresetName(preset->m_strName);
    return preset->m_settings;
}
