// Whether Ctrl+S starts and stops a recording from any application (a grab for the whole
// desktop) or only inside the main window. The desktop-wide key takes Save away from every
// other program while the recorder runs, so the user can switch it off; it stays on unless
// they do. Kept in the profile beside the persistent settings. User-interface thread.
#pragma once

#include "settings/ProfileStore.h"

constexpr const char* kGlobalHotKeyValue = "Global Ctrl+S";

// True (the default) unless the profile holds 0.
bool LoadGlobalHotKey(IProfileStore& profile);
void SaveGlobalHotKey(IProfileStore& profile, bool on);
