// The main window's placement as the persistent settings keep it, and the arithmetic that puts
// a stored position back on the screen. The arithmetic lives here so it is tested without a
// window. User-interface thread.
#pragma once

#include <cstdint>

constexpr int32_t kShowNormal = 1;
constexpr int32_t kShowMinimized = 2;
constexpr int32_t kShowMaximized = 3;

struct PlacementRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const PlacementRect&) const = default;
};

struct WindowPlacement {
    int32_t flags = 0;
    int32_t showCmd = kShowNormal;
    PlacementRect normal;  // the restored (not minimised, not maximised) rectangle, pixels
    bool operator==(const WindowPlacement&) const = default;
};

// No stored placement: the value of "flags", "left" and "top" when missing.
constexpr int32_t kNoPlacement = -1;

// What the profile holds of the placement: the flags, the show state (written, never read back)
// and the top left corner of the normal rectangle, in pixels.
struct StoredPlacement {
    int32_t flags = kNoPlacement;
    int32_t showCmd = kShowNormal;
    int32_t left = kNoPlacement;
    int32_t top = kNoPlacement;
    bool operator==(const StoredPlacement&) const = default;
};

// The placement to apply from stored values, or false to leave the window where it is (flags,
// left or top is kNoPlacement). The window opens normally whatever was stored; a position at or
// beyond the screen's size less an icon's size is pulled back to it; the current width and
// height are kept.
bool RestorePlacement(const WindowPlacement& current, int32_t flags, int32_t left, int32_t top,
                      int32_t screenWidth, int32_t screenHeight, int32_t iconWidth,
                      int32_t iconHeight, WindowPlacement& result);
