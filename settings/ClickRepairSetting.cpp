#include "settings/ClickRepairSetting.h"

#include "settings/PersistentSettings.h"

int LoadClickRepairLevel(IProfileStore& profile) {
    const int level = profile.GetProfileInt(kProfileSection, kClickRepairValue, kClickRepairNormal);
    return level >= 0 && level <= 2 ? level : kClickRepairNormal;
}

void SaveClickRepairLevel(IProfileStore& profile, int level) {
    profile.WriteProfileInt(kProfileSection, kClickRepairValue, level);
}
