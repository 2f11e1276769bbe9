// The main window's base-file-name list as the persistent settings see it: entries in list
// order, each carrying a full path. User-interface thread.
#pragma once

#include <string>

class IBaseFileList {
public:
    virtual ~IBaseFileList() = default;

    // Inserts the path at the top and selects it.
    virtual void AddBaseFile(const std::string& fullPath) = 0;
    // Index of the selected entry, -1 when none.
    virtual int GetCurSel() = 0;
    virtual int GetCount() = 0;
    virtual std::string GetFullPath(int index) = 0;
    // Removes the entry and frees its path.
    virtual void DeleteEntry(int index) = 0;
};
