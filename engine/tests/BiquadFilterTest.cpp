#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>

#include "engine/BiquadFilter.h"

namespace {

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

// Magnitude response in dB of the stored (unnormalised) section at frequency hz.
double GainDb(const CBiquadFilter& f, double hz) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / 44100), z2 = z1 * z1;
    return 20.0 * std::log10(std::abs((double{f.b0} + double{f.b1} * z1 + double{f.b2} * z2) /
                                      (double{f.a0} + double{f.a1} * z1 + double{f.a2} * z2)));
}

TEST(BiquadFilter, LowPassGoldenBitsAndTheHighPassMirror) {
    CBiquadFilter lp, hp, lpMirror;
    lp.Design("LP", 2900, 44100);
    hp.Design("HP", 2900, 44100);
    lpMirror.Design("LP", 19150, 44100);
    EXPECT_EQ(lp.GetErrorFlag() + hp.GetErrorFlag(), 0);
    const float got[] = {lp.b0, lp.b1, lp.b2, lp.a0, lp.a1, lp.a2};
    const uint32_t golden[] = {0x310D52EB, 0x318D52EB, 0x310D52EB,
                               0x3288EBC4, 0x318D52EB, 0xB24B27A6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bits(got[i]), golden[i]) << i;
    EXPECT_EQ(lp.m_nFrequency, 2900);
    EXPECT_EQ(lp.m_nSampleRate, 44100);
    // HP is the LP at the complementary frequency with the odd coefficients negated.
    EXPECT_EQ(hp.m_nFrequency, 19150);
    const float h[] = {hp.b0, hp.b1, hp.b2, hp.a0, hp.a1, hp.a2};
    const float m[] = {lpMirror.b0, -lpMirror.b1, lpMirror.b2,
                       lpMirror.a0, -lpMirror.a1, lpMirror.a2};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bits(h[i]), Bits(m[i])) << i;

    // The single-precision design is not the exact Butterworth section: -4.8 dB at the corner.
    const double lpDb[][2] = {{1, 0}, {1000, -0.9}, {2900, -4.8}, {10000, -15.4}, {20000, -33.2}};
    for (const auto& p : lpDb) EXPECT_NEAR(GainDb(lp, p[0]), p[1], 0.05) << p[0];
    const double hpDb[][2] = {{1000, -12.7}, {2900, -4.8}, {10000, -0.5}, {20000, 0.0}};
    for (const auto& p : hpDb) EXPECT_NEAR(GainDb(hp, p[0]), p[1], 0.1) << p[0];
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
