// A preset combo box as the preset code sees it: the main window's box and the Custom Settings
// dialog's box implement it. The box sorts its entries by name itself. User-interface thread.
#pragma once

#include <string>

class IPresetBox {
public:
    virtual ~IPresetBox() = default;

    virtual void ResetContent() = 0;
    virtual void AddString(const std::string& name) = 0;
    // Selects the first entry equal to text ignoring letter case; -1 (and no selection) when
    // there is none. Returns the index selected.
    virtual int SelectStringExact(const std::string& text) = 0;
    // The text of the selected entry; false when nothing is selected.
    virtual bool GetSelectedText(std::string& text) = 0;
};
