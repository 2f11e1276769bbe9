#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>

#include "BiquadFilter.h"

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Magnitude response in dB of the stored (unnormalised) section at frequency hz.
double GainDb(const CBiquadFilter& f, double hz, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / rate);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> num = double{f.b0} + double{f.b1} * z1 + double{f.b2} * z2;
    const std::complex<double> den = double{f.a0} + double{f.a1} * z1 + double{f.a2} * z2;
    return 20.0 * std::log10(std::abs(num / den));
}

TEST(BiquadFilter, LowPassAt2900For44100HoldsTheGoldenBitPatterns) {
    CBiquadFilter f;
    f.Design("LP", 2900, 44100);
    EXPECT_EQ(f.GetErrorFlag(), 0);
    EXPECT_EQ(Bits(f.b0), 0x310D52EBu);
    EXPECT_EQ(Bits(f.b1), 0x318D52EBu);
    EXPECT_EQ(Bits(f.b2), 0x310D52EBu);
    EXPECT_EQ(Bits(f.a0), 0x3288EBC4u);
    EXPECT_EQ(Bits(f.a1), 0x318D52EBu);
    EXPECT_EQ(Bits(f.a2), 0xB24B27A6u);
    EXPECT_EQ(f.m_nFrequency, 2900);
    EXPECT_EQ(f.m_nSampleRate, 44100);

    // The single-precision design is not the exact Butterworth section: -4.8 dB at the corner.
    EXPECT_NEAR(GainDb(f, 1.0, 44100), 0.0, 0.05);
    EXPECT_NEAR(GainDb(f, 1000, 44100), -0.9, 0.05);
    EXPECT_NEAR(GainDb(f, 2900, 44100), -4.8, 0.05);
    EXPECT_NEAR(GainDb(f, 10000, 44100), -15.4, 0.05);
    EXPECT_NEAR(GainDb(f, 20000, 44100), -33.2, 0.05);
}

TEST(BiquadFilter, HighPassMirrorsTheLowPassAtTheComplementaryFrequency) {
    CBiquadFilter hp;
    hp.Design("HP", 2900, 44100);
    EXPECT_EQ(hp.GetErrorFlag(), 0);
    EXPECT_EQ(hp.m_nFrequency, 19150);

    CBiquadFilter lp;
    lp.Design("LP", 19150, 44100);
    EXPECT_EQ(Bits(hp.b0), Bits(lp.b0));
    EXPECT_EQ(Bits(hp.b1), Bits(-lp.b1));
    EXPECT_EQ(Bits(hp.b2), Bits(lp.b2));
    EXPECT_EQ(Bits(hp.a0), Bits(lp.a0));
    EXPECT_EQ(Bits(hp.a1), Bits(-lp.a1));
    EXPECT_EQ(Bits(hp.a2), Bits(lp.a2));

    EXPECT_NEAR(GainDb(hp, 1000, 44100), -12.7, 0.05);
    EXPECT_NEAR(GainDb(hp, 2900, 44100), -4.8, 0.05);
    EXPECT_NEAR(GainDb(hp, 10000, 44100), -0.5, 0.05);
    EXPECT_NEAR(GainDb(hp, 20000, 44100), 0.0, 0.1);
}

TEST(BiquadFilter, UnknownTypesFailAndLeaveOnlyZeros) {
    for (const char* type : {"lp", "hp", "LP ", "Lp", "BP", ""}) {
        CBiquadFilter f;
        f.Design("LP", 2900, 44100);
        f.w0 = 1.0f;
        f.w2 = -1.0f;
        f.Design(type, 2900, 44100);
        EXPECT_EQ(f.GetErrorFlag(), 1) << '"' << type << '"';
        EXPECT_EQ(std::string(f.GetErrorText()), std::string("You asked for the filter type, ") +
                                                     type + ", and it does not exist.");
        for (float v : {f.b0, f.b1, f.b2, f.a0, f.a1, f.a2, f.w0, f.w1, f.w2}) EXPECT_EQ(v, 0.0f);
    }

    // A later successful design clears the flag (not the message) and the delay states.
    CBiquadFilter f;
    f.Design("XX", 2900, 44100);
    f.w1 = 0.5f;
    f.Design("LP", 2900, 44100);
    EXPECT_EQ(f.GetErrorFlag(), 0);
    EXPECT_EQ(f.w1, 0.0f);
    EXPECT_STREQ(f.GetErrorText(), "You asked for the filter type, XX, and it does not exist.");
}

}  // namespace
