// How readily the Review window's Repair Clicks takes a stretch for a click, as the user last
// chose it beside the button: 0 Gentle, 1 Normal, 2 Strong, the order of the click repairer's
// sensitivities (take/ClickRepair.h, which the settings stand below). Kept in the profile beside
// the persistent settings. User-interface thread.
#pragma once

#include "settings/ProfileStore.h"

constexpr const char* kClickRepairValue = "ClickRepair";
constexpr int kClickRepairNormal = 1;

// 0 to 2; Normal when the profile holds none or a number out of that range.
int LoadClickRepairLevel(IProfileStore& profile);
void SaveClickRepairLevel(IProfileStore& profile, int level);
