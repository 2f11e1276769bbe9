// Preset names are bytes of the Windows-1252 code page in the presets file; the windows and the
// terminal speak UTF-8. These conversions are the only place where one becomes the other; text
// from outside (label files, cue sheets, track lists, titles) that is not UTF-8 is read as the
// code page too, so that any bytes give some text and none is refused or lost.
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

// Whether bytes are well-formed UTF-8 (no overlong form, surrogate or code point past U+10FFFF).
bool IsUtf8(std::string_view bytes);

// A value (a title, an album, an artist): as it is when it is UTF-8, else Windows-1252 decoded.
std::string Utf8OrWindows1252(std::string_view bytes);

// A text file's bytes as UTF-8: UTF-16 of either byte order after its byte-order mark; UTF-8
// with its byte-order mark dropped; anything else as Utf8OrWindows1252. A UTF-16 unit that
// pairs with nothing, and an odd last byte, each become U+FFFD.
std::string TextFileToUtf8(std::string_view bytes);
