#include "settings/MonitorSetting.h"

#include "settings/PersistentSettings.h"

bool LoadMonitor(IProfileStore& profile) {
    return profile.GetProfileInt(kProfileSection, kMonitorValue, 1) != 0;
}

void SaveMonitor(IProfileStore& profile, bool on) {
    profile.WriteProfileInt(kProfileSection, kMonitorValue, on ? 1 : 0);
}
