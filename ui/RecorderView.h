// What the recording presenter asks of the main window: message boxes, the texts and states of
// its controls, the caption, the recording picture, the wait cursor, the Base File Name box and
// the pauses of Record and Stop. The Qt main window implements it; tests override single
// members to watch what the presenter shows. User-interface thread only.
#pragma once

#include <string>

#include "resources/ControlIds.h"

enum class MsgIcon { Stop, Warning, Question, Information };
// YesNoDefaultNo: Enter answers No.
enum class MsgButtons { Ok, YesNo, YesNoDefaultNo };
enum class MsgAnswer { Ok, Yes, No };

class IRecorderView {
public:
    virtual ~IRecorderView() = default;

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
    // and the one of Stop). Returns false when the user asked to leave the program meanwhile:
    // the command then gives up, and the window leaves once it has returned.
    virtual bool Wait(int ms) = 0;
};
