#include "settings/HotKeySetting.h"

#include "settings/PersistentSettings.h"

bool LoadGlobalHotKey(IProfileStore& profile) {
    return profile.GetProfileInt(kProfileSection, kGlobalHotKeyValue, 1) != 0;
}

void SaveGlobalHotKey(IProfileStore& profile, bool on) {
    profile.WriteProfileInt(kProfileSection, kGlobalHotKeyValue, on ? 1 : 0);
}
