// The error flag and text that the engine and audio objects carry.
//
// Every operation of such an object first clears the flag; a failure sets the flag to 1 and
// formats a fixed message into the 1,024-byte text, and the caller tests the flag right after
// the call. The text keeps its last message until the next failure; only the flag is cleared.
// Owned by the object that reports; used on whichever thread uses that object.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>

class CErrorState {
public:
    static constexpr int kTextSize = 1024;

    explicit CErrorState(const char* initialText = "") {
        std::snprintf(m_szText, kTextSize, "%s", initialText);
    }

    void Clear() { m_nFlag = 0; }

    // Raises the flag without touching the text (a few mixer steps do this).
    void Raise() { m_nFlag = 1; }

    // Raises the flag and formats the message; %s in the fixed texts is a file or device name.
    void Fail(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        m_nFlag = 1;
        va_list args;
        va_start(args, format);
        std::vsnprintf(m_szText, kTextSize, format, args);
        va_end(args);
    }

    int Flag() const { return m_nFlag; }
    const char* Text() const { return m_szText; }

private:
    int m_nFlag = 0;
    char m_szText[kTextSize];
};
