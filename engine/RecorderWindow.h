// What the recording control asks of the main window: message boxes, the texts and states of
// its controls, the caption, the recording picture, the wait cursor, the Base File Name box and
// the two messages the recording thread posts. The Qt main window implements it; tests
// implement it with scripted answers.
//
// Every member is called on the user-interface thread, except PostRecordingProgress and
// PostRecordingDone, which the recording thread calls (without the recording lock): an
// implementation must queue them onto the user-interface thread and return at once, never run
// the handler inline, never wait for it and never allocate.
#pragma once

#include <cstdint>
#include <string>

// Control ids of the main window.
constexpr int IDC_RECORD = 1000;
constexpr int IDC_BASEFILE = 1002;  // Base File Name box
constexpr int IDC_PRESETS = 1003;   // Presets box
constexpr int IDC_NEW = 1004;
constexpr int IDC_STOP = 1011;
constexpr int IDC_CURFILE = 1015;    // "Cur File: ..." label
constexpr int IDC_SONGTIME = 1016;   // "Song Time  mm:ss" label
constexpr int IDC_TOTALTIME = 1017;  // "Total Time  mm:ss" label
constexpr int IDC_CUSTOMIZE = 1018;  // Customize... button
constexpr int IDC_CLIPPED = 1020;    // "Clipped Pts: n" label
constexpr int IDC_PICTURE = 1033;    // recording picture

enum class MsgIcon { Stop, Warning, Question, Information };
// YesNoDefaultNo: Enter answers No.
enum class MsgButtons { Ok, YesNo, YesNoDefaultNo };
enum class MsgAnswer { Ok, Yes, No };

// What the recording thread reports after a block. It carries everything the window shows, as
// it was when the block had been written, so that the window never reads live state to show it
// and the labels always describe the bytes on disk, however late the message is handled. The
// counters run from Record on, so a later report supersedes an earlier one: a window may merge
// reports that wait (Absorb) and handle only the result.
struct RecordingProgress {
    long nByteCount = 0;        // bytes of the block (of all merged blocks)
    int nNewFiles = 0;          // song files begun within it (a split and a size roll-over: two)
    int nSongNumber = 1;        // the song file the last bytes went into
    int64_t nSongBytes = 0;     // bytes in that song file so far
    int64_t nTotalBytes = 0;    // bytes recorded since Record
    int64_t nClippedTotal = 0;  // clipped samples since Record, each sample counted once
    // The analyser's readouts of the block, per channel (0 left, 1 right): peak (1.0 full
    // scale), power, clipped samples. Merged reports keep the loudest and add the clips up.
    float fPeak[2] = {0, 0};
    float fPower[2] = {0, 0};
    int32_t nClips[2] = {0, 0};

    // Folds a later report into this one.
    void Absorb(const RecordingProgress& later) {
        nByteCount += later.nByteCount;
        nNewFiles += later.nNewFiles;
        nSongNumber = later.nSongNumber;
        nSongBytes = later.nSongBytes;
        nTotalBytes = later.nTotalBytes;
        nClippedTotal = later.nClippedTotal;
        for (int ch = 0; ch < 2; ++ch) {
            fPeak[ch] = later.fPeak[ch] > fPeak[ch] ? later.fPeak[ch] : fPeak[ch];
            fPower[ch] = later.fPower[ch] > fPower[ch] ? later.fPower[ch] : fPower[ch];
            nClips[ch] += later.nClips[ch];
        }
    }
};

class IRecorderWindow {
public:
    virtual ~IRecorderWindow() = default;

    // Modal message box owned by the main window; returns the button pressed (Ok for an OK box).
    virtual MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) = 0;

    // Label text of a control (IDC_CURFILE, IDC_CLIPPED, IDC_SONGTIME, IDC_TOTALTIME).
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual void FocusItem(int id) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // The recording picture (IDC_PICTURE): the active or the idle picture of the colour scheme.
    virtual void ShowRecordingPicture(bool active) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual bool IsMinimized() = 0;

    // Base File Name box: whether an item is selected, the box's text (the file name as shown)
    // and the full path attached to the selected item.
    virtual bool HasBaseFileSelection() = 0;
    virtual std::string GetBaseFileText() = 0;
    virtual std::string GetBaseFilePath() = 0;
    // The New base-file dialog.
    virtual void OnNew() = 0;

    // Waits ms milliseconds on the user-interface thread (the pause after the overwrite question
    // and the one of Stop); tests record it instead of sleeping. Returns false when the user
    // asked to leave the program meanwhile: the command then gives up, and the window leaves
    // once it has returned.
    virtual bool Wait(int ms) = 0;

    // Recording thread: queue CRecordingControl::OnRecordingProgress(progress) onto the
    // user-interface thread.
    virtual void PostRecordingProgress(const RecordingProgress& progress) = 0;
    // Recording thread: queue CRecordingControl::OnRecordingDone() onto the user-interface
    // thread. Posted once, when the thread ends.
    virtual void PostRecordingDone() = 0;
};
