// One second-order recursive filter section and the routine that designs it from a type name,
// a frequency and a sample rate. The signal analyser holds one per channel and runs the
// recurrence itself; this class only designs and stores. Single-threaded.
#pragma once

#include "audio/ErrorState.h"

class CBiquadFilter {
public:
    CBiquadFilter() = default;
    virtual ~CBiquadFilter() = default;

    // "LP" or "HP" (exact, case included); anything else fails and leaves every coefficient 0.
    // Clears the delay states: the only place that does.
    void Design(const char* type, int frequency, int sampleRate);

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }

    // Coefficients (a0 not normalised) and direct-form-II delay states, w0 the newest.
    float b0 = 0, b1 = 0, b2 = 0;
    float a0 = 0, a1 = 0, a2 = 0;
    float w0 = 0, w1 = 0, w2 = 0;
    int m_nFrequency = 0;   // Hz; for "HP" the mirrored frequency the low-pass step designs for
    int m_nSampleRate = 0;  // samples per second the design was made for

private:
    void DesignLowPass(int frequency, int sampleRate);

    CErrorState m_error;
};
