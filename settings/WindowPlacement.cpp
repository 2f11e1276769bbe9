#include "settings/WindowPlacement.h"

bool RestorePlacement(const WindowPlacement& current, int32_t flags, int32_t left, int32_t top,
                      int32_t screenWidth, int32_t screenHeight, int32_t iconWidth,
                      int32_t iconHeight, WindowPlacement& result) {
    if (flags == kNoPlacement) return false;
    if (left == kNoPlacement || top == kNoPlacement) return false;
    // At least an icon's size of the window's corner stays on the screen.
    const int64_t maxLeft = int64_t{screenWidth} - iconWidth;
    const int64_t maxTop = int64_t{screenHeight} - iconHeight;
    int64_t l = left >= maxLeft ? maxLeft : left;
    int64_t t = top >= maxTop ? maxTop : top;
    const int64_t width = int64_t{current.normal.right} - current.normal.left;
    const int64_t height = int64_t{current.normal.bottom} - current.normal.top;
    result = current;
    result.flags = flags;
    result.showCmd = kShowNormal;
    result.normal.left = static_cast<int32_t>(l);
    result.normal.top = static_cast<int32_t>(t);
    result.normal.right = static_cast<int32_t>(l + width);
    result.normal.bottom = static_cast<int32_t>(t + height);
    return true;
}
