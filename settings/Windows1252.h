// Preset names are bytes of the Windows-1252 code page in the presets file; the windows and the
// terminal speak UTF-8. These two conversions are the only place where one becomes the other.
// The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// control characters of the same number, so every byte string survives
// decoding and encoding again unchanged. No state; any thread.
#pragma once

#include <string>
#include <string_view>

// Windows-1252 bytes to UTF-8.
std::string DecodeWindows1252(std::string_view bytes);

// UTF-8 to Windows-1252 bytes. A character the code page cannot hold, and a byte that is not
// valid UTF-8, each become '?', the code page's replacement.
std::string EncodeWindows1252(std::string_view utf8);

// The characters of utf8 that EncodeWindows1252 would turn into '?', each once, in the order
// they first appear, as UTF-8 (a malformed byte shows as U+FFFD). Empty when the text survives.
std::string Windows1252Unencodable(std::string_view utf8);
