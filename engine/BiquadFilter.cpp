#include "engine/BiquadFilter.h"

#include <cmath>
#include <cstring>

namespace {

// The design constants exactly as stored: 2*pi and 2*sqrt(2) rounded to float
// (bits 0x40C90FDB and 0x403504F7).
constexpr float kTwoPi = 6.2831855f;
constexpr float kTwoSqrt2 = 2.828428f;

// Every named value of the design is a float; each step is evaluated in double and rounded
// once when stored. The response the gap detector was tuned on depends on exactly this.
inline float Store(double v) { return static_cast<float>(v); }

}  // namespace

void CBiquadFilter::Design(const char* type, int frequency, int sampleRate) {
    m_error.Clear();
    b0 = b1 = b2 = 0;
    a0 = a1 = a2 = 0;
    w0 = w1 = w2 = 0;
    m_nFrequency = frequency;
    m_nSampleRate = sampleRate;

    if (type != nullptr && std::strcmp(type, "LP") == 0) {
        DesignLowPass(frequency, sampleRate);
    } else if (type != nullptr && std::strcmp(type, "HP") == 0) {
        // H(-z) of the low-pass at the frequency mirrored around a quarter of the rate.
        m_nFrequency = sampleRate / 2 - frequency;
        DesignLowPass(m_nFrequency, sampleRate);
        b1 = -b1;
        a1 = -a1;
    } else {
        m_error.Fail("You asked for the filter type, %s, and it does not exist.",
                     type != nullptr ? type : "(null)");
    }
}

void CBiquadFilter::DesignLowPass(int frequency, int sampleRate) {
    const double twoPi = kTwoPi;
    const double twoSqrt2 = kTwoSqrt2;

    const float t = Store(1.0 / static_cast<double>(static_cast<float>(sampleRate)));
    const float theta = Store(2.0 * static_cast<double>(Store(std::atan(double{t} / 2.0))));
    const float omega = Store(double{Store(frequency * twoPi)} * t);

    const float s1 = Store(std::sin((double{omega} + theta) / 2.0));
    const float s2 = Store(std::sin((double{theta} - omega) / 2.0));
    const float k = Store(double{s2} / s1);

    const float t2 = Store(double{t} * t);
    const float kT2 = Store(double{k} * t * t);
    const float f5 = Store(double{kT2} + kT2);
    const float k2 = Store(double{k} * k);
    const float k2T = Store(double{k2} * t);
    const float k2T2 = Store(double{k2T} * t);

    b0 = b2 = Store(double{t2} - f5 + k2T2);

    const float t2x2 = Store(double{t2} + t2);
    const float kT2x4 = Store(double{kT2} * 4.0);
    const float k2T2x2 = Store(double{k2T2} + k2T2);
    b1 = Store(double{t2x2} - kT2x4 + k2T2x2);

    const float q = Store((double{k} * 4.0 + 8.0) * k);
    const float p = Store(double{t} * twoSqrt2);

    a0 = Store(double{p} + q + 4.0 - double{k2T} * twoSqrt2 + t2 - f5 + k2T2);
    a1 = Store(double{t2x2} - ((double{k2} + 1.0) * 8.0 + double{k} * 16.0) - kT2x4 + k2T2x2);
    a2 = Store((double{q} + 4.0 - p) + (double{k2} * twoSqrt2 + t) * t - f5 + k2T2);
}
