// Placeholder: the buffered RIFF file layer (to be written).
#pragma once
#include <cstdint>
struct MMCKINFO {
    uint32_t ckid = 0;
    uint32_t cksize = 0;
    uint32_t fccType = 0;
    uint32_t dwDataOffset = 0;
    uint32_t dwFlags = 0;
};
class CRiffFile;
