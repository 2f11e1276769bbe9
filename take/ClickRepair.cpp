#include "take/ClickRepair.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Flags of a sample whose forward / backward prediction error stands out.
constexpr uint8_t kForward = 1;
constexpr uint8_t kBackward = 2;
// The same beyond the threshold a click's onset has to pass.
constexpr uint8_t kForwardOnset = 4;
constexpr uint8_t kBackwardOnset = 8;

struct Settings {
    int nOrder = 32;        // of the predictor
    size_t nCore = 2048;    // frames each model judges; it is fitted on twice as many around
    size_t nMaxSpan = 128;  // longer stretches are not clicks but music the model misses
    double fThreshold = 6;  // in robust standard deviations of the prediction error
    double fOnset = 18;     // the same that a click's onset reaches both ways
    double fFloor = 0;      // the least spread the error is taken to have
    // A filled gap's prediction error, and the error just after the click's reach, in the
    // usual error's energy, beyond which the music is what stands out.
    double fMostError = 5;
    double fMostAfter = 7;
};

Settings SettingsFor(uint32_t rate, ClickSensitivity sensitivity, bool b16Bit) {
    Settings s;
    // About 32 coefficients at 44.1 kHz reach 0.7 ms back, enough for a record's spectrum.
    s.nOrder = std::clamp(static_cast<int>(std::lround(rate / 1378.0)), 12, 32);
    // Music holds still for some 50 ms; a power of two near it.
    s.nCore = 256;
    while (s.nCore * 2 <= rate / 16) s.nCore *= 2;
    s.nMaxSpan = std::max<size_t>(32, rate * 3 / 2000);
    switch (sensitivity) {
        case ClickSensitivity::Gentle:
            s.fThreshold = 9;
            s.fOnset = 30;
            break;
        case ClickSensitivity::Normal:
            s.fThreshold = 6;
            s.fOnset = 18;
            break;
        case ClickSensitivity::Strong:
            s.fThreshold = 4.5;
            s.fOnset = 11;
            break;
    }
    // The error of 16-bit samples never falls below their rounding; a float's is held at the
    // same order so that the faint rest of a fade does not count as clicks.
    s.fFloor = b16Bit ? 1.0 / 32768 : 1.0 / 65536;
    return s;
}

std::vector<double> HannWindow(size_t n) {
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) {
        w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                    static_cast<double>(n));
    }
    return w;
}

// The autocorrelation of x[0, n) windowed by w at lags 0..order; `scratch` holds the windowed
// samples.
std::vector<double> Autocorrelation(const float* x, size_t n, const double* w, int order,
                                    std::vector<double>& scratch) {
    const size_t p = static_cast<size_t>(order);
    std::vector<double> r(p + 1, 0.0);
    if (n <= p) return r;
    scratch.resize(n);
    for (size_t i = 0; i < n; ++i) scratch[i] = x[i] * w[i];
    // Every lag at once, so that the inner loop runs over independent sums.
    for (size_t i = 0; i < n; ++i) {
        const double v = scratch[i];
        const size_t lags = std::min(p, n - 1 - i);
        for (size_t k = 0; k <= lags; ++k) r[k] += v * scratch[i + k];
    }
    return r;
}

// The predictor of the autocorrelation r as if white noise `floor` times r[0] were added.
std::vector<double> Levinson(std::vector<double> r, double floor) {
    const size_t p = r.size() - 1;
    std::vector<double> a(p + 1, 0.0);
    a[0] = 1;
    if (!(r[0] > 0) || !std::isfinite(r[0])) return a;
    r[0] *= 1 + floor;
    std::vector<double> c(p + 1, 0.0), previous(p + 1, 0.0);
    c[0] = 1;
    double error = r[0];
    for (size_t i = 1; i <= p; ++i) {
        double acc = r[i];
        for (size_t j = 1; j < i; ++j) acc += c[j] * r[i - j];
        const double reflection = -acc / error;
        previous = c;
        for (size_t j = 1; j < i; ++j) c[j] = previous[j] + reflection * previous[i - j];
        c[i] = reflection;
        error *= 1 - reflection * reflection;
        if (!(error > 0)) break;
    }
    for (size_t k = 1; k <= p; ++k) a[k] = -c[k];
    return a;
}

// A trace of white noise keeps the recursion stable on pure tones.
constexpr double kTrace = 1e-9;
// The model a click is shaped with hears a floor some 50 dB under the music: where the music
// has next to nothing (above a lossy source's cut-off, say) its inverse would otherwise weigh
// the least error there above every error in the band the music is in.
constexpr double kShapingFloor = 1e-5;

// A robust standard deviation: the median magnitude scaled to a normal distribution's.
double RobustSpread(std::vector<float>& magnitudes) {
    if (magnitudes.empty()) return 0;
    auto middle = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    return 1.4826 * static_cast<double>(*middle);
}

// Where a click's ringing ends at the latest: its fitted samples under this share of its peak.
constexpr double kReachFraction = 0.03;

// A click as a record gives it: a kick to the stylus that the pickup rings out, the response of
// a resonance (two poles) to a start of two free samples. Taking the click away rather than the
// samples it lies on keeps the music under it, which no interpolation of a gap can know.
class CClickShape {
public:
    // x[start, start + length) of x[0, n) holds music plus a click; `a` is the music's predictor.
    CClickShape(const float* x, size_t n, size_t start, size_t length, const std::vector<double>& a)
        : m_nStart(start),
          m_nLength(length),
          m_nEnd(length),
          m_nOrder(a.size() - 1),
          m_c(a.size()) {
        m_c[0] = 1;
        for (size_t k = 1; k <= m_nOrder; ++k) m_c[k] = -a[k];
        m_nFirstRow = std::max(start, m_nOrder);
        const size_t lastRow = std::min(start + length - 1 + m_nOrder, n - 1);
        m_nRows = lastRow >= m_nFirstRow ? lastRow - m_nFirstRow + 1 : 0;
        m_e0.assign(m_nRows, 0.0);
        for (size_t i = 0; i < m_nRows; ++i) {
            const size_t r = m_nFirstRow + i;
            double e = 0;
            for (size_t k = 0; k <= m_nOrder; ++k) e += m_c[k] * x[r - k];
            m_e0[i] = e;
        }
    }

    size_t Rows() const { return m_nRows; }

    // How far the click that begins the span reaches: one past its last sample above `level`
    // and a small share of its peak; 0 when none is found.
    size_t Reach(double level) {
        std::vector<double> d;
        if (!std::isfinite(Fit(&d))) return 0;
        double peak = 0;
        for (double v : d) peak = std::max(peak, std::abs(v));
        level = std::max(level, kReachFraction * peak);
        size_t end = 0;
        for (size_t i = 0; i < m_nLength; ++i) {
            if (std::abs(d[i]) > level) end = i + 1;
        }
        return end;
    }

    // The music's prediction error over the rows a change of the span touches, with `d` taken
    // away from the span.
    double Energy(const std::vector<double>& d) const {
        double energy = 0;
        for (size_t i = 0; i < m_nRows; ++i) {
            const size_t r = m_nFirstRow + i;
            double e = m_e0[i];
            const size_t kFirst = r >= m_nStart + m_nLength ? r - (m_nStart + m_nLength) + 1 : 0;
            const size_t kLast = std::min(m_nOrder, r - m_nStart);
            for (size_t k = kFirst; k <= kLast; ++k) e -= m_c[k] * d[r - k - m_nStart];
            energy += e * e;
        }
        return energy;
    }

    // The best click found: its samples in `d`, and the prediction error with it taken away.
    // `hint`, when given, is the span less the music's interpolation: the click as it stands out
    // alone, which shows its poles where the first guess is led astray by the music.
    double Fit(std::vector<double>* d, const std::vector<double>* hint = nullptr) {
        double best = INFINITY;
        if (m_nRows == 0 || m_nLength < 6) return best;
        // The click may begin a sample or two into the span; or, in busy music whose own
        // failures came first, where the hint rises.
        size_t rise = 0;
        if (hint != nullptr) {
            double most = 0;
            for (double v : *hint) most = std::max(most, std::abs(v));
            while (rise + 1 < hint->size() && std::abs((*hint)[rise]) < 0.25 * most) ++rise;
            rise = rise > 0 ? rise - 1 : 0;
        }
        size_t onsets[6] = {0, 1, 2, rise, rise + 1, rise + 2};
        const size_t count = rise > 2 && rise + 8 < m_nLength ? 6 : 3;
        for (size_t o = 0; o < count; ++o) {
            const size_t onset = onsets[o];
            for (int start = 0; start < (hint != nullptr ? 2 : 1); ++start) {
                double b1 = 0, b2 = 0;
                if (start == 0 && !Guess(onset, &b1, &b2)) continue;
                if (start == 1 && !Prony(*hint, onset, &b1, &b2)) continue;
                double energy = Solve(onset, b1, b2);
                // Refine the poles: a pattern search, since the error is smooth in them but far
                // from quadratic.
                double step = 0.05;
                for (int round = 0; round < 32 && step > 2e-4; ++round) {
                    bool bMoved = false;
                    for (int dir = 0; dir < 4; ++dir) {
                        const double n1 = b1 + (dir == 0 ? step : dir == 1 ? -step : 0);
                        const double n2 = b2 + (dir == 2 ? step : dir == 3 ? -step : 0);
                        if (!Stable(n1, n2)) continue;
                        const double e = Solve(onset, n1, n2);
                        if (e < energy) {
                            energy = e;
                            b1 = n1;
                            b2 = n2;
                            bMoved = true;
                        }
                    }
                    if (!bMoved) step /= 2;
                }
                // The click may stop short of the span's end: a scratch's kick dies away within
                // the samples, and a ringing drawn on past them would add what it takes away.
                m_nEnd = BestEnd(onset, b1, b2, &energy);
                if (energy < best) {
                    best = Solve(onset, b1, b2);
                    d->resize(m_nLength);
                    for (size_t i = 0; i < m_nLength; ++i) {
                        (*d)[i] = m_fBeta[0] * m_g[0][i] + m_fBeta[1] * m_g[1][i];
                    }
                }
                m_nEnd = m_nLength;
            }
        }
        return best;
    }

    // Where the click of poles b1, b2 from `onset` best ends (one past its last sample), when
    // that leaves less error than `energy`, which it then lowers; else the span's end. Cutting
    // the click short by one sample changes the filtered shapes in p + 1 rows only, so every end
    // is tried for the price of one fit.
    size_t BestEnd(size_t onset, double b1, double b2, double* energy) {
        m_nEnd = m_nLength;
        Solve(onset, b1, b2);
        double s00 = 0, s01 = 0, s11 = 0, v0 = 0, v1 = 0, e00 = 0;
        for (size_t i = 0; i < m_nRows; ++i) {
            s00 += m_G[0][i] * m_G[0][i];
            s01 += m_G[0][i] * m_G[1][i];
            s11 += m_G[1][i] * m_G[1][i];
            v0 += m_G[0][i] * m_e0[i];
            v1 += m_G[1][i] * m_e0[i];
            e00 += m_e0[i] * m_e0[i];
        }
        size_t best = m_nLength;
        for (size_t e = m_nLength; e-- > onset + 4;) {
            const double g0 = m_g[0][e], g1 = m_g[1][e];
            for (size_t k = 0; k <= m_nOrder; ++k) {
                const size_t r = m_nStart + e + k;
                if (r < m_nFirstRow) continue;
                const size_t i = r - m_nFirstRow;
                if (i >= m_nRows) break;
                double& G0 = m_G[0][i];
                double& G1 = m_G[1][i];
                s00 -= G0 * G0;
                s01 -= G0 * G1;
                s11 -= G1 * G1;
                v0 -= G0 * m_e0[i];
                v1 -= G1 * m_e0[i];
                G0 -= m_c[k] * g0;
                G1 -= m_c[k] * g1;
                s00 += G0 * G0;
                s01 += G0 * G1;
                s11 += G1 * G1;
                v0 += G0 * m_e0[i];
                v1 += G1 * m_e0[i];
            }
            const double det = s00 * s11 - s01 * s01;
            if (!(det > 1e-12 * s00 * s11)) continue;
            const double left =
                e00 - (v0 * (s11 * v0 - s01 * v1) + v1 * (s00 * v1 - s01 * v0)) / det;
            if (left < *energy) {
                *energy = left;
                best = e;
            }
        }
        return best;
    }

    // The poles of a click seen alone in r (the samples less the music's interpolation): the
    // two-pole recursion fitted to r by least squares.
    static bool Prony(const std::vector<double>& r, size_t onset, double* b1, double* b2) {
        double M[2][3] = {};
        for (size_t i = onset + 2; i < r.size(); ++i) {
            M[0][0] += r[i - 1] * r[i - 1];
            M[0][1] += r[i - 1] * r[i - 2];
            M[1][1] += r[i - 2] * r[i - 2];
            M[0][2] += r[i - 1] * r[i];
            M[1][2] += r[i - 2] * r[i];
        }
        M[1][0] = M[0][1];
        double solution[2];
        if (!SolveSmall<2>(M, solution)) return false;
        *b1 = solution[0];
        *b2 = solution[1];
        if (!Stable(*b1, *b2)) {
            // Pull it inside, keeping the angle.
            const double radius = std::sqrt(std::abs(*b2));
            if (radius > 0.99) {
                *b1 *= 0.99 / radius;
                *b2 *= 0.98 / (radius * radius);
            }
            if (!Stable(*b1, *b2)) *b1 = *b2 = 0;
        }
        return true;
    }

private:
    static bool Stable(double b1, double b2) {
        return std::abs(b2) < 0.995 && std::abs(b1) < 0.998 - b2;
    }

    // A first guess at the poles from the prediction errors alone: filtered by the click's
    // denominator they are the music's predictor applied to the click's two starting samples,
    // so one linear fit gives both (biased by the music, which is small beside a click).
    bool Guess(size_t onset, double* b1, double* b2) const {
        double M[4][5] = {};
        const size_t from = m_nStart + onset + 2;
        for (size_t r = std::max(from, m_nFirstRow + 2); r < m_nStart + m_nLength; ++r) {
            const size_t at = r - m_nFirstRow;
            if (at >= m_nRows) break;
            const size_t lag = r - m_nStart - onset;
            const double f[4] = {m_e0[at - 1], m_e0[at - 2], lag <= m_nOrder ? m_c[lag] : 0,
                                 lag - 1 <= m_nOrder ? m_c[lag - 1] : 0};
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) M[i][j] += f[i] * f[j];
                M[i][4] += f[i] * m_e0[at];
            }
        }
        double solution[4];
        if (!SolveSmall<4>(M, solution)) return false;
        *b1 = solution[0];
        *b2 = solution[1];
        if (!Stable(*b1, *b2)) *b1 = *b2 = 0;
        return true;
    }

    template <int N>
    static bool SolveSmall(double (&M)[N][N + 1], double* solution) {
        for (int k = 0; k < N; ++k) {
            int pivot = k;
            for (int i = k + 1; i < N; ++i) {
                if (std::abs(M[i][k]) > std::abs(M[pivot][k])) pivot = i;
            }
            for (int j = 0; j <= N; ++j) std::swap(M[k][j], M[pivot][j]);
            if (!(std::abs(M[k][k]) > 1e-300)) return false;
            for (int i = k + 1; i < N; ++i) {
                const double f = M[i][k] / M[k][k];
                for (int j = k; j <= N; ++j) M[i][j] -= f * M[k][j];
            }
        }
        for (int i = N; i-- > 0;) {
            double t = M[i][N];
            for (int j = i + 1; j < N; ++j) t -= M[i][j] * solution[j];
            solution[i] = t / M[i][i];
        }
        for (int i = 0; i < N; ++i) {
            if (!std::isfinite(solution[i])) return false;
        }
        return true;
    }

    // The click of poles b1, b2 from `onset` that takes the most error away: its shapes in m_g,
    // their weights in m_fBeta, and the error left.
    double Solve(size_t onset, double b1, double b2) {
        const size_t L = m_nLength;
        m_g[0].assign(L, 0.0);
        m_g[1].assign(L, 0.0);
        m_g[0][onset] = 1;
        m_g[1][onset + 1] = 1;
        for (int j = 0; j < 2; ++j) {
            std::vector<double>& g = m_g[j];
            for (size_t i = onset + 2; i < m_nEnd; ++i) g[i] = b1 * g[i - 1] + b2 * g[i - 2];
        }
        // The columns: each shape through the music's prediction error filter. Up to the cut
        // that is the filter's own response through the two poles, q (the second shape is q
        // from onset + 1, the first q from onset less b1 times the second); past the cut, the
        // cut shapes are summed out, in the order's last rows only.
        m_q.resize(L + 1);
        for (size_t m = 0; m <= L; ++m) {
            double v = m <= m_nOrder ? m_c[m] : 0;
            if (m >= 1) v += b1 * m_q[m - 1];
            if (m >= 2) v += b2 * m_q[m - 2];
            m_q[m] = v;
        }
        double M[2][3] = {};
        for (int j = 0; j < 2; ++j) m_G[j].assign(m_nRows, 0.0);
        for (size_t i = 0; i < m_nRows; ++i) {
            const size_t r = m_nFirstRow + i;
            double s0 = 0, s1 = 0;
            if (r < m_nStart + m_nEnd) {
                const size_t m = r - m_nStart;
                const double q0 = m >= onset ? m_q[m - onset] : 0;
                s1 = m >= onset + 1 ? m_q[m - onset - 1] : 0;
                s0 = q0 - b1 * s1;
            } else {
                const size_t kFirst = r - (m_nStart + m_nEnd) + 1;
                const size_t kLast = std::min(m_nOrder, r - m_nStart);
                for (size_t k = kFirst; k <= kLast; ++k) {
                    s0 += m_c[k] * m_g[0][r - k - m_nStart];
                    s1 += m_c[k] * m_g[1][r - k - m_nStart];
                }
            }
            m_G[0][i] = s0;
            m_G[1][i] = s1;
            M[0][0] += s0 * s0;
            M[0][1] += s0 * s1;
            M[1][1] += s1 * s1;
            M[0][2] += s0 * m_e0[i];
            M[1][2] += s1 * m_e0[i];
        }
        M[1][0] = M[0][1];
        double beta[2];
        if (!SolveSmall<2>(M, beta)) return INFINITY;
        double energy = 0;
        for (size_t i = 0; i < m_nRows; ++i) {
            const double e = m_e0[i] - beta[0] * m_G[0][i] - beta[1] * m_G[1][i];
            energy += e * e;
        }
        m_fBeta[0] = beta[0];
        m_fBeta[1] = beta[1];
        return energy;
    }

    size_t m_nStart;
    size_t m_nLength;
    size_t m_nEnd;  // the click's samples end here, within the span
    size_t m_nOrder;
    std::vector<double> m_c;  // the prediction error filter
    size_t m_nFirstRow = 0;
    size_t m_nRows = 0;
    std::vector<double> m_e0;  // the prediction errors with the click in
    std::vector<double> m_g[2];
    std::vector<double> m_G[2];
    std::vector<double> m_q;
    double m_fBeta[2] = {0, 0};  // the last solution's starting samples
    std::vector<double> m_d;
};

struct Span {
    size_t nStart = 0;
    size_t nEnd = 0;  // one past
};

// How much more error than the interpolation's, per sample of freedom the click's shape has
// less, still counts as explaining the span nearly as well.
constexpr double kShapeSlack = 100;

// How many samples before a forward failure a backward one may end and still mark a click's
// onset.
constexpr size_t kLead = 4;
// Where a click's ringing ends: its fitted samples under this many robust deviations of the
// music's prediction error.
constexpr double kReachLevel = 0.25;

// How far past the fitted ringing's reach a click's span goes, in shares of that reach: the
// fit is made before the music model has been refined around the click, and falls short of a
// slowly decaying click.
constexpr double kReachMargin = 0.2;
// A music onset, not a click: the signal stays louder after the span by this factor (in
// amplitude) and the music's prediction error stays this far above the usual (in its energy).
constexpr double kOnsetRise = 1.7;
constexpr double kOnsetError = 4;
// A repair moves no sample by more than this many times the largest prediction error the
// click made (a click's first sample is its onset's error; the margin is for the music's own).
constexpr double kMostChange = 1.5;
// Unless it stands out this many times the onset threshold: no attack of the music does, and a
// click may well fall on one.
constexpr double kSure = 8;

// How often the models are fitted again after the clicks they found are filled in.
constexpr int kRefits = 2;

// One channel, deinterleaved.
class CChannelRepair {
public:
    CChannelRepair(std::vector<float>& x, const Settings& settings, const std::vector<uint8_t>& bad)
        : m_x(x), m_settings(settings), m_bad(bad), m_flags(x.size(), 0) {
        m_nBlocks = (x.size() + settings.nCore - 1) / settings.nCore;
        m_models.resize(m_nBlocks);
        m_shapers.resize(m_nBlocks);
        m_spreads.assign(m_nBlocks, settings.fFloor);
        m_blind.assign(m_nBlocks, false);
        m_window = HannWindow(2 * settings.nCore);
    }

    std::vector<Span> Run() {
        const size_t n = m_x.size();
        if (n < 4 * static_cast<size_t>(m_settings.nOrder)) return {};
        // The blocks where clicks are sought, and those whose model is new: flagged afresh.
        std::vector<bool> search(m_nBlocks, true), fresh(m_nBlocks, true);
        for (size_t b = 0; b < m_nBlocks; ++b) Fit(b);
        std::vector<Span> spans, previous;
        // A loud click teaches the model fitted over it its own ringing, and then only its
        // onset stands out. So the first clicks found are filled in, the models around them
        // fitted again on the mended music, and the clicks sought afresh in the samples as
        // they were with the better models; twice, since the better models see more of a loud
        // click than the first did. Models are fitted again only around what changed.
        for (int pass = 0;; ++pass) {
            for (size_t b = 0; b < m_nBlocks; ++b) {
                if (fresh[b]) Flag(b);
            }
            if (pass == kRefits) break;
            spans = Cluster(search);
            if (spans.empty()) return {};
            std::fill(search.begin(), search.end(), false);
            std::fill(fresh.begin(), fresh.end(), false);
            m_saved.clear();
            size_t known = 0;
            for (const Span& span : spans) {
                m_saved.insert(m_saved.end(),
                               m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart),
                               m_x.begin() + static_cast<std::ptrdiff_t>(span.nEnd));
                Repair(span, false);
                while (known < previous.size() && previous[known].nEnd < span.nEnd) ++known;
                const bool bKnown = known < previous.size() &&
                                    previous[known].nStart <= span.nStart &&
                                    span.nEnd <= previous[known].nEnd;
                const size_t reach = m_settings.nCore / 2 + 1;
                const size_t first = span.nStart > reach ? (span.nStart - reach) : 0;
                const size_t last = std::min(n - 1, span.nEnd + reach);
                for (size_t b = first / m_settings.nCore; b <= last / m_settings.nCore; ++b) {
                    search[b] = true;
                    if (!bKnown) fresh[b] = true;
                }
            }
            for (size_t b = 0; b < m_nBlocks; ++b) {
                if (fresh[b]) Fit(b);
            }
            size_t at = 0;
            for (const Span& span : spans) {
                std::copy_n(m_saved.begin() + static_cast<std::ptrdiff_t>(at),
                            span.nEnd - span.nStart,
                            m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart));
                at += span.nEnd - span.nStart;
            }
            previous = std::move(spans);
        }
        spans = Candidates(search);
        std::erase_if(spans, [this](const Span& span) { return !Repair(span, true); });
        return spans;
    }

private:
    bool IsBad(size_t first, size_t end) const {
        if (m_bad.empty()) return false;
        for (size_t i = first; i < end; ++i) {
            if (m_bad[i]) return true;
        }
        return false;
    }

    // Fits block b's model to the samples around its core.
    void Fit(size_t b) {
        const size_t n = m_x.size();
        const size_t core = m_settings.nCore;
        const size_t p = static_cast<size_t>(m_settings.nOrder);
        const size_t coreStart = b * core;
        const size_t coreEnd = std::min(n, coreStart + core);
        const size_t windowStart = coreStart > core / 2 ? coreStart - core / 2 : 0;
        const size_t windowEnd = std::min(n, coreEnd + core / 2);
        const size_t windowLength = windowEnd - windowStart;
        m_blind[b] = IsBad(windowStart, windowEnd);
        if (m_blind[b]) {
            m_models[b].assign(p + 1, 0.0);
            m_models[b][0] = 1;
            m_shapers[b] = m_models[b];
            return;
        }
        const double* w = m_window.data();
        std::vector<double> edgeWindow;
        if (windowLength != m_window.size()) {
            edgeWindow = HannWindow(windowLength);
            w = edgeWindow.data();
        }
        const std::vector<double> r =
            Autocorrelation(&m_x[windowStart], windowLength, w, m_settings.nOrder, m_scratch);
        m_models[b] = Levinson(r, kTrace);
        m_shapers[b] = Levinson(r, kShapingFloor);
    }

    // Flags the samples of block b's core whose prediction errors stand out.
    void Flag(size_t b) {
        const size_t n = m_x.size();
        const size_t core = m_settings.nCore;
        const size_t p = static_cast<size_t>(m_settings.nOrder);
        const size_t coreStart = b * core;
        const size_t coreEnd = std::min(n, coreStart + core);
        std::fill(m_flags.begin() + static_cast<std::ptrdiff_t>(coreStart),
                  m_flags.begin() + static_cast<std::ptrdiff_t>(coreEnd), 0);
        if (m_blind[b]) return;
        const std::vector<double>& a = m_models[b];

        // Forward errors where the p samples before are there, backward where those after are.
        const size_t forwardFirst = std::max(coreStart, p);
        const size_t backwardEnd = std::min(coreEnd, n - p);
        m_forward.assign(core, 0.0);
        m_backward.assign(core, 0.0);
        for (size_t i = forwardFirst; i < coreEnd; ++i) m_forward[i - coreStart] = m_x[i];
        for (size_t i = coreStart; i < backwardEnd; ++i) m_backward[i - coreStart] = m_x[i];
        for (size_t k = 1; k <= p; ++k) {
            const double ak = a[k];
            if (ak == 0) continue;
            for (size_t i = forwardFirst; i < coreEnd; ++i) {
                m_forward[i - coreStart] -= ak * m_x[i - k];
            }
            for (size_t i = coreStart; i < backwardEnd; ++i) {
                m_backward[i - coreStart] -= ak * m_x[i + k];
            }
        }
        m_magnitudes.clear();
        for (size_t i = forwardFirst; i < coreEnd; ++i) {
            m_magnitudes.push_back(static_cast<float>(std::abs(m_forward[i - coreStart])));
        }
        m_spreads[b] = std::max(RobustSpread(m_magnitudes), m_settings.fFloor);
        const double forwardLimit = m_settings.fThreshold * m_spreads[b];
        m_magnitudes.clear();
        for (size_t i = coreStart; i < backwardEnd; ++i) {
            m_magnitudes.push_back(static_cast<float>(std::abs(m_backward[i - coreStart])));
        }
        const double backwardLimit =
            m_settings.fThreshold * std::max(RobustSpread(m_magnitudes), m_settings.fFloor);
        const double onset = m_settings.fOnset / m_settings.fThreshold;
        for (size_t i = forwardFirst; i < coreEnd; ++i) {
            const double e = std::abs(m_forward[i - coreStart]);
            if (e > forwardLimit)
                m_flags[i] |= e > onset * forwardLimit ? kForward | kForwardOnset : kForward;
        }
        for (size_t i = coreStart; i < backwardEnd; ++i) {
            const double e = std::abs(m_backward[i - coreStart]);
            if (e > backwardLimit)
                m_flags[i] |= e > onset * backwardLimit ? kBackward | kBackwardOnset : kBackward;
        }
    }

    // Every group of flags of the given blocks within the model's reach of each other, a
    // little widened: all that stands out, to be kept out of the models' second fit.
    std::vector<Span> Cluster(const std::vector<bool>& active) {
        const size_t n = m_x.size();
        const size_t p = static_cast<size_t>(m_settings.nOrder);
        std::vector<Span> spans;
        size_t i = 0;
        while (i < n) {
            const size_t b = i / m_settings.nCore;
            if (!active[b]) {
                i = (b + 1) * m_settings.nCore;
                continue;
            }
            if (m_flags[i] == 0) {
                ++i;
                continue;
            }
            size_t last = i;
            for (size_t j = i; j < n && j <= last + p; ++j) {
                if (m_flags[j] != 0) last = j;
            }
            // Whatever stands out is kept out of the models' second fit: a loud click
            // teaches the model its own spectrum and then hardly stands out at all.
            const size_t lo = i > 2 ? i - 2 : 0;
            const size_t hi = std::min(n, last + 3);
            if (!spans.empty() && lo <= spans.back().nEnd) {
                spans.back().nEnd = std::max(spans.back().nEnd, hi);
            } else {
                spans.push_back({lo, hi});
            }
            i = last + 1;
        }
        return spans;
    }

    // The clicks among the flags of the active blocks. A click's onset fails the forward
    // prediction, and the samples just before it fail the backward one (they are predicted from
    // the click); inside a click that rings, the backward prediction often holds, so that the
    // backward failures end where the forward ones begin. The click's end is where the ringing
    // fitted to it has died away under the music's error.
    std::vector<Span> Candidates(const std::vector<bool>& active) {
        const size_t n = m_x.size();
        std::vector<Span> spans;
        for (size_t i = 0; i < n;) {
            const size_t b = i / m_settings.nCore;
            if (!active[b]) {
                i = (b + 1) * m_settings.nCore;
                continue;
            }
            bool onset = (m_flags[i] & kForward) != 0;
            if (onset) {
                // Backward failures end just before it, and it stands out both ways.
                bool before = false, strongBefore = false, strongAfter = false;
                for (size_t k = 0; k <= kLead && k <= i; ++k) {
                    if (m_flags[i - k] & kBackward) before = true;
                }
                for (size_t j = i > 2 * kLead ? i - 2 * kLead : 0; j <= i + 1 && j < n; ++j) {
                    if (m_flags[j] & kBackwardOnset) strongBefore = true;
                }
                for (size_t j = i; j <= i + 2 * kLead && j < n; ++j) {
                    if (m_flags[j] & kForwardOnset) strongAfter = true;
                }
                onset = before && strongBefore && strongAfter;
            }
            if (onset) {
                // Near the end of a block, the next block's model may know the music that
                // begins there.
                const size_t core = m_settings.nCore;
                const size_t other = i % core >= core / 2 ? b + 1 : b > 0 ? b - 1 : b;
                if (other != b && other < m_nBlocks && !m_blind[other]) {
                    double f = 0;
                    for (size_t j = std::max(i, size_t(m_settings.nOrder));
                         j <= i + 2 * kLead && j < n; ++j) {
                        f = std::max(f, std::abs(ErrAt(m_models[other], j)));
                    }
                    if (f < m_settings.fOnset * m_spreads[other]) onset = false;
                }
            }
            if (!onset) {
                ++i;
                continue;
            }
            const size_t lo = i > 2 ? i - 2 : 0;
            // Where the click is loud enough its own samples fail the backward prediction too.
            size_t hi = i + 1;
            for (size_t j = i; j < n && j <= hi + kLead && j < lo + m_settings.nMaxSpan; ++j) {
                if (m_flags[j] & kBackward) hi = j + 1;
            }
            hi = std::min(n, hi + 2 + (hi - lo) / 4);
            const size_t support = std::min(n, lo + m_settings.nMaxSpan) - lo;
            if (support >= 6) {
                CClickShape shape(m_x.data(), n, lo, support, m_shapers[b]);
                const size_t reach = shape.Reach(kReachLevel * m_spreads[b]);
                hi = std::max(hi, lo + reach +
                                      static_cast<size_t>(
                                          std::ceil(kReachMargin * static_cast<double>(reach))));
                hi = std::min({hi, n, lo + m_settings.nMaxSpan});
            }
            if (!spans.empty() && lo <= spans.back().nEnd) {
                spans.back().nEnd = std::max(spans.back().nEnd, hi);
            } else {
                spans.push_back({lo, hi});
            }
            // Its own backward failures are not another click's onset.
            i = hi + kLead + 1;
        }
        std::fill(m_flags.begin(), m_flags.end(), 0);
        return spans;
    }

    // The forward prediction error of `a` at sample r (r >= the order).
    double ErrAt(const std::vector<double>& a, size_t r) const {
        const size_t p = a.size() - 1;
        double e = m_x[r];
        for (size_t k = 1; k <= p; ++k) e -= a[k] * m_x[r - k];
        return e;
    }
    // Fills a click in; false, and the samples left as they were, when it is too long or the
    // filled gap does not fit the model (when bCheck).
    bool Repair(const Span& span, bool bCheck) {
        const size_t length = span.nEnd - span.nStart;
        if (length == 0 || length > (bCheck ? 1 : 3) * m_settings.nMaxSpan) return false;
        const size_t n = m_x.size();
        const size_t p = static_cast<size_t>(m_settings.nOrder);
        const size_t first = span.nStart > p ? span.nStart - p : 0;
        const size_t end = std::min(n, span.nEnd + p);
        if (IsBad(first, end)) return false;
        const size_t block = (span.nStart + length / 2) / m_settings.nCore;
        const std::vector<double>& a = m_models[block];
        m_before.assign(m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart),
                        m_x.begin() + static_cast<std::ptrdiff_t>(span.nEnd));
        // How far the click stands out at most: the prediction error of its samples as they are.
        double peak = 0;
        if (bCheck) {
            for (size_t r = std::max(span.nStart, p); r < span.nEnd; ++r) {
                peak = std::max(peak, std::abs(ErrAt(a, r)));
            }
        }
        if (!InterpolateGap(m_x.data(), n, span.nStart, length, a)) return false;
        if (!bCheck) return true;
        const double spread = m_spreads[block];
        // Where the music itself is unforeseeable (the burst of a cymbal, a plucked string's
        // attack) the model cannot fill the gap either: what remains of the prediction error
        // with the gap filled is much more than the music's usual. A click on music the model
        // knows leaves only the usual error once it is gone.
        const double ratio = ErrorRatio(span.nStart, end, a, spread);
        // And music goes on after its attack: the error after a click's reach is the usual.
        const double after = ErrorRatio(end, end + 2 * p, a, spread);
        // A click's residual dies within its span; an onset of the music grows louder and stays
        // beyond the model after it (a drum's stroke: its attack passes the onset test too).
        const size_t w = m_settings.nCore / 4;
        const double before = MeanSquare(span.nStart > w ? span.nStart - w : 0, span.nStart);
        const double later = MeanSquare(span.nEnd, span.nEnd + w);
        const double unforeseen = ErrorRatio(span.nEnd + p, span.nEnd + w / 2, a, spread);
        if (peak < kSure * m_settings.fOnset * spread && later > kOnsetRise * kOnsetRise * before &&
            unforeseen > kOnsetError) {
            std::copy(m_before.begin(), m_before.end(),
                      m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart));
            return false;
        }
        // Both measured against the error just before the click, where the music is busier than
        // the block's usual (a click in a loud, rough passage is no music the model misses).
        const size_t from = span.nStart > 8 * p ? span.nStart - 8 * p : 0;
        const double local = std::max(1.0, ErrorRatio(from, span.nStart, a, spread));
        if (after > local * m_settings.fMostAfter) {
            std::copy(m_before.begin(), m_before.end(),
                      m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart));
            return false;
        }
        if (ratio > local * m_settings.fMostError) {
            std::copy(m_before.begin(), m_before.end(),
                      m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart));
            return false;
        }
        Shape(span, block);
        // A false repair should at least do no harm: a click's largest sample is about the
        // largest error it makes the prediction fail by (its first sample is its onset's error),
        // so a repair that moves a sample further than that puts in more than it takes away;
        // the fit or the gap has followed the music where the model hears little.
        double change = 0;
        for (size_t i = 0; i < length; ++i) {
            change = std::max(change, std::abs(double(m_before[i]) - m_x[span.nStart + i]));
        }
        if (change > kMostChange * peak) {
            std::copy(m_before.begin(), m_before.end(),
                      m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart));
            return false;
        }
        return true;
    }

    // The mean square of the samples [from, to).
    double MeanSquare(size_t from, size_t to) const {
        to = std::min(to, m_x.size());
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += double(m_x[i]) * m_x[i];
        return to > from ? sum / static_cast<double>(to - from) : 0;
    }

    // The mean square of the prediction error over rows [from, to), in the block's spread.
    double ErrorRatio(size_t from, size_t to, const std::vector<double>& a, double spread) const {
        const size_t n = m_x.size();
        const size_t p = a.size() - 1;
        double energy = 0;
        size_t rows = 0;
        for (size_t r = std::max(from, p); r < std::min(to, n); ++r, ++rows) {
            double e = m_x[r];
            for (size_t k = 1; k <= p; ++k) e -= a[k] * m_x[r - k];
            energy += e * e;
        }
        return rows == 0 ? 0 : energy / (static_cast<double>(rows) * spread * spread);
    }

    // Takes a click of the shape CClickShape knows away in place of the interpolation in the
    // span, when it explains the samples nearly as well: a model of two poles and two samples
    // cannot follow music the way the gap's free samples can, so when it comes close, the
    // click is what it found.
    void Shape(const Span& span, size_t block) {
        const size_t n = m_x.size();
        const size_t length = span.nEnd - span.nStart;
        const auto at = m_x.begin() + static_cast<std::ptrdiff_t>(span.nStart);
        m_filled.assign(at, at + static_cast<std::ptrdiff_t>(length));
        std::copy(m_before.begin(), m_before.end(), at);
        CClickShape shape(m_x.data(), n, span.nStart, length, m_shapers[block]);
        m_d.resize(length);
        for (size_t i = 0; i < length; ++i) m_d[i] = double(m_before[i]) - m_filled[i];
        const double filled = shape.Energy(m_d);
        m_hint = m_d;
        const double shaped = shape.Fit(&m_d, &m_hint);
        const size_t rows = shape.Rows();
        bool bShaped = false;
        if (std::isfinite(shaped) && rows > length + 4) {
            const double spread = filled / static_cast<double>(rows - length);
            bShaped = shaped - filled <= kShapeSlack * static_cast<double>(length - 2) * spread;
        }
        if (!bShaped) {
            std::copy(m_filled.begin(), m_filled.end(), at);
            return;
        }
        for (size_t i = 0; i < length; ++i) {
            m_x[span.nStart + i] = static_cast<float>(m_before[i] - m_d[i]);
        }
    }

    std::vector<float>& m_x;
    const Settings& m_settings;
    const std::vector<uint8_t>& m_bad;
    std::vector<uint8_t> m_flags;
    size_t m_nBlocks = 0;
    std::vector<std::vector<double>> m_models;
    std::vector<std::vector<double>> m_shapers;  // the same with a floor, see kShapingFloor
    std::vector<double> m_window;
    std::vector<double> m_scratch;
    std::vector<double> m_forward;
    std::vector<double> m_backward;
    std::vector<float> m_magnitudes;  // single precision: a median needs no more, and sorts faster
    std::vector<double> m_spreads;    // of each block's forward error
    std::vector<bool> m_blind;        // blocks with samples that are not numbers: left alone
    std::vector<float> m_saved;       // the samples of the clicks found, as they were
    std::vector<float> m_before;      // of the one being filled
    std::vector<float> m_filled;      // its interpolation
    std::vector<double> m_d;          // the click taken away
    std::vector<double> m_hint;       // the click as the interpolation shows it
};

float ToFloat(float v) { return v; }
float ToFloat(int16_t v) { return static_cast<float>(v) / 32768.0f; }

void FromFloat(float v, float* out) { *out = v; }
void FromFloat(float v, int16_t* out) {
    const float scaled = std::nearbyint(v * 32768.0f);
    *out = static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

template <typename Sample>
ClickRepairResult Repair(Sample* samples, size_t frames, int channels, uint32_t rate,
                         ClickSensitivity sensitivity) {
    ClickRepairResult result;
    if (samples == nullptr || frames == 0 || channels <= 0 || rate == 0) return result;
    const Settings settings = SettingsFor(rate, sensitivity, sizeof(Sample) == 2);
    const size_t stride = static_cast<size_t>(channels);
    std::vector<float> x(frames);
    std::vector<uint8_t> bad;
    for (int c = 0; c < channels; ++c) {
        bad.clear();
        for (size_t i = 0; i < frames; ++i) {
            float v = ToFloat(samples[i * stride + static_cast<size_t>(c)]);
            if (!std::isfinite(v)) {
                if (bad.empty()) bad.assign(frames, 0);
                bad[i] = 1;
                v = 0;
            }
            x[i] = v;
        }
        CChannelRepair channel(x, settings, bad);
        for (const Span& span : channel.Run()) {
            ClickRepair repair;
            repair.nFrame = span.nStart;
            repair.nLength = static_cast<uint32_t>(span.nEnd - span.nStart);
            repair.nChannel = c;
            uint64_t changed = 0;
            for (size_t i = span.nStart; i < span.nEnd; ++i) {
                Sample& s = samples[i * stride + static_cast<size_t>(c)];
                Sample now;
                FromFloat(x[i], &now);
                repair.original.push_back(ToFloat(s));
                repair.repaired.push_back(ToFloat(now));
                if (now != s) ++changed;
            }
            if (changed == 0) continue;
            for (size_t i = span.nStart; i < span.nEnd; ++i) {
                FromFloat(repair.repaired[i - span.nStart], &samples[i * stride + size_t(c)]);
            }
            result.nSamplesChanged += changed;
            result.repairs.push_back(std::move(repair));
        }
    }
    return result;
}

template <typename Sample>
void Apply(Sample* samples, int channels, const std::vector<ClickRepair>& repairs, bool bRepaired) {
    for (const ClickRepair& r : repairs) {
        const std::vector<float>& values = bRepaired ? r.repaired : r.original;
        for (size_t i = 0; i < values.size(); ++i) {
            const size_t at =
                (r.nFrame + i) * static_cast<size_t>(channels) + static_cast<size_t>(r.nChannel);
            FromFloat(values[i], &samples[at]);
        }
    }
}

}  // namespace

std::vector<double> FitPredictor(const float* x, size_t n, int order) {
    std::vector<double> scratch;
    return Levinson(Autocorrelation(x, n, HannWindow(n).data(), order, scratch), kTrace);
}

bool InterpolateGap(float* x, size_t n, size_t start, size_t length, const std::vector<double>& a) {
    if (length == 0) return true;
    if (a.empty() || start >= n || length > n - start) return false;
    const size_t p = a.size() - 1;
    const size_t end = start + length;
    // The prediction error filter: e[r] = sum c[k] x[r - k].
    std::vector<double> c(p + 1);
    c[0] = 1;
    for (size_t k = 1; k <= p; ++k) c[k] = -a[k];
    // The predictions that use a missing sample and have all p samples before them.
    const size_t rowFirst = std::max(start, p);
    const size_t rowLast = std::min(end - 1 + p, n - 1);
    if (rowFirst > rowLast) return false;
    // Their errors with the missing samples taken as zero.
    std::vector<double> e0(rowLast - rowFirst + 1);
    for (size_t r = rowFirst; r <= rowLast; ++r) {
        double e = 0;
        for (size_t k = 0; k <= p; ++k) {
            const size_t at = r - k;
            if (at < start || at >= end) e += c[k] * x[at];
        }
        e0[r - rowFirst] = e;
    }
    // Normal equations M u = v for the missing samples u: M = A'A, v = -A'e0, where row r of A
    // holds c[r - start - i] in column i.
    const size_t m = length;
    std::vector<double> M(m * m), v(m);
    for (size_t i = 0; i < m; ++i) {
        for (size_t j = 0; j <= i; ++j) {
            const size_t lo = std::max(rowFirst, start + i);  // i >= j
            const size_t hi = std::min(rowLast, start + j + p);
            double sum = 0;
            for (size_t r = lo; r <= hi; ++r) sum += c[r - start - i] * c[r - start - j];
            M[i * m + j] = sum;
        }
        const size_t lo = std::max(rowFirst, start + i);
        const size_t hi = std::min(rowLast, start + i + p);
        double sum = 0;
        for (size_t r = lo; r <= hi; ++r) sum += c[r - start - i] * e0[r - rowFirst];
        v[i] = -sum;
    }
    // Cholesky, lower triangle in place.
    for (size_t j = 0; j < m; ++j) {
        double d = M[j * m + j];
        for (size_t k = 0; k < j; ++k) d -= M[j * m + k] * M[j * m + k];
        if (!(d > 1e-14)) return false;
        const double root = std::sqrt(d);
        M[j * m + j] = root;
        for (size_t i = j + 1; i < m; ++i) {
            double s = M[i * m + j];
            for (size_t k = 0; k < j; ++k) s -= M[i * m + k] * M[j * m + k];
            M[i * m + j] = s / root;
        }
    }
    for (size_t i = 0; i < m; ++i) {
        double s = v[i];
        for (size_t k = 0; k < i; ++k) s -= M[i * m + k] * v[k];
        v[i] = s / M[i * m + i];
    }
    for (size_t i = m; i-- > 0;) {
        double s = v[i];
        for (size_t k = i + 1; k < m; ++k) s -= M[k * m + i] * v[k];
        v[i] = s / M[i * m + i];
    }
    for (size_t i = 0; i < m; ++i) {
        if (!std::isfinite(v[i]) || std::abs(v[i]) > 1e6) return false;
    }
    for (size_t i = 0; i < m; ++i) x[start + i] = static_cast<float>(v[i]);
    return true;
}

ClickRepairResult RepairClicks(float* samples, size_t frames, int channels, uint32_t rate,
                               ClickSensitivity sensitivity) {
    return Repair(samples, frames, channels, rate, sensitivity);
}

ClickRepairResult RepairClicks(int16_t* samples, size_t frames, int channels, uint32_t rate,
                               ClickSensitivity sensitivity) {
    return Repair(samples, frames, channels, rate, sensitivity);
}

void ApplyRepairs(float* samples, int channels, const std::vector<ClickRepair>& repairs,
                  bool bRepaired) {
    Apply(samples, channels, repairs, bRepaired);
}

void ApplyRepairs(int16_t* samples, int channels, const std::vector<ClickRepair>& repairs,
                  bool bRepaired) {
    Apply(samples, channels, repairs, bRepaired);
}
