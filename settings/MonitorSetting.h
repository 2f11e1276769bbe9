// Whether the meters follow the input while no recording runs ("Monitor" beside the meters).
// Monitoring holds the capture device whenever the window is idle and shown, so the user can
// switch it off; it stays on unless they do. Kept in the profile beside the persistent
// settings. User-interface thread.
#pragma once

#include "settings/ProfileStore.h"

constexpr const char* kMonitorValue = "Monitor";

// True (the default) unless the profile holds 0.
bool LoadMonitor(IProfileStore& profile);
void SaveMonitor(IProfileStore& profile, bool on);
