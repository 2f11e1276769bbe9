// The click repairer measured on a minute of real music: the clean minute itself, the same with
// 300 clicks planted at known places, and the same with a record's crackle. For each, the SNR
// against the clean minute before and after repair, the samples changed, the clicks found,
// missed and made up, and the CPU time of one thread as a multiple of real time; beside it
// ffmpeg's adeclick run on the same files, when an ffmpeg is given. bench/declick_bench.sh
// fetches and decodes the music and runs it.
//
//   declick_bench CLEAN.wav WORK_DIR [FFMPEG]
//
// CLEAN.wav is 16-bit stereo; the corrupted files are written to WORK_DIR (and ffmpeg's output
// beside them). The corruption is drawn from a fixed seed: every run measures the same files.
// With DECLICK_ONLY=CORPUS:SENSITIVITY (clicks:Normal, say) only that row is run, and stderr gets
// the planted clicks (K frame length channel dB), the missed ones (M ... with the frames covered
// per channel), the repairs (P channel frame length) and the error near the clicks and away from
// them (E), and the clicks that leave the most of that error near them, the worst first (R:
// K's fields and the share). DECLICK_SHOW=FRAME (DECLICK_SHOWCH=channel) adds the samples from
// there on (S frame clean corrupted repaired): what a look at a bad repair starts from.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "take/ClickRepair.h"

namespace {

struct Audio {
    uint32_t rate = 44100;
    int channels = 2;
    std::vector<int16_t> samples;  // interleaved
    size_t Frames() const { return samples.size() / static_cast<size_t>(channels); }
};

uint32_t Le(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

bool ReadWav(const std::string& path, Audio* audio) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = Le(&bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && size >= 16) {
            audio->channels = static_cast<int>(Le(&bytes[at + 10], 2));
            audio->rate = Le(&bytes[at + 12], 4);
            if (Le(&bytes[at + 22], 2) != 16) return false;
            haveFormat = true;
        } else if (std::memcmp(&bytes[at], "data", 4) == 0 && haveFormat) {
            const size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 2;
            audio->samples.resize(n);
            std::memcpy(audio->samples.data(), &bytes[at + 8], n * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

void Put(std::vector<unsigned char>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool WriteWav(const std::string& path, const Audio& audio) {
    std::vector<unsigned char> h;
    const uint32_t data = static_cast<uint32_t>(audio.samples.size() * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    Put(h, 36 + data, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put(h, 16, 4);
    Put(h, 1, 2);
    Put(h, static_cast<uint32_t>(audio.channels), 2);
    Put(h, audio.rate, 4);
    Put(h, audio.rate * static_cast<uint32_t>(audio.channels) * 2, 4);
    Put(h, static_cast<uint32_t>(audio.channels) * 2, 2);
    Put(h, 16, 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    Put(h, data, 4);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
    out.write(reinterpret_cast<const char*>(audio.samples.data()), data);
    return static_cast<bool>(out);
}

// A planted click: frames [frame, frame + length) of channel 0, 1 or both (2).
struct Click {
    size_t frame = 0;
    size_t length = 0;
    int channel = 0;
    double peakDb = 0;
};

// Decaying impulses that swing both ways, of random length, loudness and channel, at least
// 20 ms apart.
std::vector<Click> Plant(Audio& audio, std::mt19937& random, size_t count, int minLength,
                         int maxLength, double minDb, double maxDb, double minGap, double maxGap) {
    std::vector<Click> clicks;
    const size_t frames = audio.Frames();
    std::uniform_int_distribution<int> length(minLength, maxLength);
    std::uniform_real_distribution<double> level(minDb, maxDb), unit(0, 1);
    std::uniform_int_distribution<int> channel(0, 2);
    std::vector<size_t> starts;
    if (count > 0) {
        // Evenly spread with jitter, so that none meet.
        const double step = static_cast<double>(frames) / static_cast<double>(count + 1);
        for (size_t i = 0; i < count; ++i) {
            starts.push_back(
                static_cast<size_t>(step * (static_cast<double>(i) + 0.5 + 0.8 * unit(random))));
        }
    } else {
        for (double t = minGap + unit(random) * (maxGap - minGap);
             t * audio.rate < static_cast<double>(frames) - 100;
             t += minGap + unit(random) * (maxGap - minGap)) {
            starts.push_back(static_cast<size_t>(t * audio.rate));
        }
    }
    for (size_t start : starts) {
        Click c;
        c.frame = start;
        c.length = static_cast<size_t>(length(random));
        c.channel = channel(random);
        c.peakDb = level(random);
        const double peak = std::pow(10.0, c.peakDb / 20) * 32768;
        const double swing = 0.15 + 0.85 * unit(random);  // of a half turn per sample
        const double phase = unit(random) * 2 * M_PI;
        const double decay = 3.0 / static_cast<double>(c.length);
        std::vector<double> shape(c.length);
        double most = 0;
        for (size_t i = 0; i < c.length; ++i) {
            shape[i] = std::exp(-decay * static_cast<double>(i)) *
                       std::cos(M_PI * swing * static_cast<double>(i) + phase);
            most = std::max(most, std::abs(shape[i]));
        }
        const double sign = unit(random) < 0.5 ? -1 : 1;
        for (int ch = 0; ch < audio.channels; ++ch) {
            if (c.channel != 2 && c.channel != ch) continue;
            for (size_t i = 0; i < c.length && c.frame + i < frames; ++i) {
                int16_t& s = audio.samples[(c.frame + i) * 2 + static_cast<size_t>(ch)];
                const double v = s + sign * peak * shape[i] / most;
                s = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
            }
        }
        clicks.push_back(c);
    }
    return clicks;
}

double Snr(const Audio& clean, const Audio& x) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < clean.samples.size(); ++i) {
        const double c = clean.samples[i], d = x.samples[i] - c;
        signal += c * c;
        noise += d * d;
    }
    return noise == 0 ? INFINITY : 10 * std::log10(signal / noise);
}

// Stretches of changed samples per channel, as a repairer's spans: changes within 8 frames of
// each other count as one.
std::vector<ClickRepair> ChangedSpans(const Audio& before, const Audio& after) {
    std::vector<ClickRepair> spans;
    for (int ch = 0; ch < before.channels; ++ch) {
        size_t lastChange = 0;
        bool open = false;
        for (size_t f = 0; f < before.Frames(); ++f) {
            const size_t i = f * static_cast<size_t>(before.channels) + static_cast<size_t>(ch);
            if (before.samples[i] == after.samples[i]) continue;
            if (open && f <= lastChange + 8) {
                spans.back().nLength = static_cast<uint32_t>(f + 1 - spans.back().nFrame);
            } else {
                ClickRepair r;
                r.nFrame = f;
                r.nLength = 1;
                r.nChannel = ch;
                spans.push_back(r);
                open = true;
            }
            lastChange = f;
        }
    }
    return spans;
}

struct Tally {
    size_t found = 0, missed = 0, falseAlarms = 0, loud = 0, loudFound = 0;
};

Tally Count(const std::vector<Click>& clicks, const std::vector<ClickRepair>& spans, int channels,
            size_t frames, FILE* misses = nullptr) {
    Tally t;
    std::vector<std::vector<uint8_t>> covered(static_cast<size_t>(channels),
                                              std::vector<uint8_t>(frames, 0));
    for (const ClickRepair& r : spans) {
        for (size_t i = 0; i < r.nLength; ++i) covered[size_t(r.nChannel)][r.nFrame + i] = 1;
    }
    for (const Click& c : clicks) {
        bool found = true;
        for (int ch = 0; ch < channels; ++ch) {
            if (c.channel != 2 && c.channel != ch) continue;
            size_t n = 0;
            for (size_t i = 0; i < c.length; ++i) n += covered[size_t(ch)][c.frame + i];
            if (10 * n < 9 * c.length) found = false;
        }
        found ? ++t.found : ++t.missed;
        if (c.peakDb >= -12) {
            ++t.loud;
            if (found) ++t.loudFound;
        }
    }
    if (misses != nullptr) {
        for (const Click& c : clicks) {
            size_t n[2] = {0, 0};
            for (int ch = 0; ch < channels; ++ch) {
                for (size_t i = 0; i < c.length; ++i) n[ch] += covered[size_t(ch)][c.frame + i];
            }
            bool found = true;
            for (int ch = 0; ch < channels; ++ch) {
                if ((c.channel == 2 || c.channel == ch) && 10 * n[ch] < 9 * c.length) found = false;
            }
            if (!found) {
                std::fprintf(misses, "M %zu %zu %d %.1f %zu %zu\n", c.frame, c.length, c.channel,
                             c.peakDb, n[0], n[1]);
            }
        }
    }
    for (const ClickRepair& r : spans) {
        const bool hit = std::any_of(clicks.begin(), clicks.end(), [&](const Click& c) {
            return (c.channel == 2 || c.channel == r.nChannel) && r.nFrame < c.frame + c.length &&
                   c.frame < r.nFrame + r.nLength;
        });
        if (!hit) ++t.falseAlarms;
    }
    return t;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// ffmpeg's adeclick with its defaults on one thread; false when it failed.
bool RunFfmpeg(const std::string& ffmpeg, const std::string& in, const std::string& out,
               double* cpu) {
    const double before = ChildrenCpuSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(ffmpeg.c_str(), ffmpeg.c_str(), "-v", "error", "-y", "-threads", "1",
              "-filter_threads", "1", "-i", in.c_str(), "-af", "adeclick", "-c:a", "pcm_s16le",
              "-fflags", "+bitexact", "-map_metadata", "-1", out.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return false;
    }
    *cpu = ChildrenCpuSeconds() - before;
    return true;
}

void Row(const char* corpus, const char* who, double snrBefore, double snrAfter, uint64_t changed,
         size_t total, const Tally* tally, size_t clicks, double cpu, double seconds) {
    char found[64] = "-", missed[16] = "-", falseAlarms[16] = "-";
    if (tally != nullptr) {
        if (clicks > 0) {
            std::snprintf(found, sizeof found, "%zu/%zu (loud %zu/%zu)", tally->found, clicks,
                          tally->loudFound, tally->loud);
            std::snprintf(missed, sizeof missed, "%zu", tally->missed);
        }
        std::snprintf(falseAlarms, sizeof falseAlarms, "%zu", tally->falseAlarms);
    }
    std::printf("| %-8s | %-16s | %6.1f | %6.1f | %8llu (%6.3f %%) | %-22s | %6s | %6s | %7.1f |\n",
                corpus, who, snrBefore, snrAfter, static_cast<unsigned long long>(changed),
                100.0 * static_cast<double>(changed) / static_cast<double>(total), found, missed,
                falseAlarms, seconds / cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: declick_bench CLEAN.wav WORK_DIR [FFMPEG]\n");
        return 2;
    }
    Audio clean;
    if (!ReadWav(argv[1], &clean) || clean.channels != 2) {
        std::fprintf(stderr, "declick_bench: %s is not 16-bit stereo WAV\n", argv[1]);
        return 1;
    }
    const std::string work = argv[2];
    const std::string ffmpeg = argc > 3 ? argv[3] : "";
    const double seconds = static_cast<double>(clean.Frames()) / clean.rate;

    std::mt19937 random(20240601);
    Audio clicks = clean;
    const std::vector<Click> clickList = Plant(clicks, random, 300, 3, 40, -20, -6, 0, 0);
    Audio crackle = clean;
    const std::vector<Click> tickList = Plant(crackle, random, 0, 2, 8, -30, -25, 0.2, 0.8);

    struct Corpus {
        const char* name;
        const Audio* audio;
        const std::vector<Click>* clicks;
    };
    const std::vector<Click> none;
    const Corpus corpora[] = {{"clean", &clean, &none},
                              {"clicks", &clicks, &clickList},
                              {"crackle", &crackle, &tickList}};

    std::printf("%.1f s of 16-bit stereo at %u Hz; %zu clicks, %zu crackle ticks\n\n", seconds,
                clean.rate, clickList.size(), tickList.size());
    std::printf(
        "| corpus   | repairer         | SNR in | SNR out| samples changed       "
        "| found                  | missed | false  | x real time |\n");
    std::printf(
        "|----------|------------------|-------:|-------:|----------------------:"
        "|------------------------|-------:|-------:|--------:|\n");
    const size_t total = clean.samples.size();
    for (const Corpus& corpus : corpora) {
        const double before = Snr(clean, *corpus.audio);
        for (ClickSensitivity s :
             {ClickSensitivity::Gentle, ClickSensitivity::Normal, ClickSensitivity::Strong}) {
            const char* only = std::getenv("DECLICK_ONLY");
            const char* name = s == ClickSensitivity::Gentle   ? "Gentle"
                               : s == ClickSensitivity::Normal ? "Normal"
                                                               : "Strong";
            if (only && std::string(only) != std::string(corpus.name) + ":" + name) continue;
            Audio repaired = *corpus.audio;
            const double start = ThreadCpuSeconds();
            const ClickRepairResult result = RepairClicks(
                repaired.samples.data(), repaired.Frames(), repaired.channels, repaired.rate, s);
            const double cpu = ThreadCpuSeconds() - start;
            const Tally tally =
                Count(*corpus.clicks, result.repairs, 2, clean.Frames(), only ? stderr : nullptr);
            if (only) {
                std::vector<uint8_t> near(clean.Frames(), 0);
                for (const Click& c : *corpus.clicks)
                    for (size_t i = c.frame > 64 ? c.frame - 64 : 0;
                         i < std::min(clean.Frames(), c.frame + c.length + 64); ++i)
                        near[i] = 1;
                double in = 0, out = 0, sig = 0;
                for (size_t i = 0; i < total; ++i) {
                    const double d = double(repaired.samples[i]) - clean.samples[i];
                    sig += double(clean.samples[i]) * clean.samples[i];
                    (near[i / 2] ? in : out) += d * d;
                }
                std::fprintf(stderr, "E near %.1f dB, away %.1f dB\n", 10 * std::log10(sig / in),
                             10 * std::log10(sig / out));
                if (const char* show = std::getenv("DECLICK_SHOW")) {
                    const size_t f0 = std::strtoul(show, nullptr, 10);
                    const int ch = std::getenv("DECLICK_SHOWCH")
                                       ? std::atoi(std::getenv("DECLICK_SHOWCH"))
                                       : 0;
                    for (size_t f = f0 - 8; f < f0 + 64; ++f) {
                        const size_t i = 2 * f + ch;
                        std::fprintf(stderr, "S %zu %d %d %d  click %d  err %d\n", f,
                                     clean.samples[i], corpus.audio->samples[i],
                                     repaired.samples[i],
                                     corpus.audio->samples[i] - clean.samples[i],
                                     repaired.samples[i] - clean.samples[i]);
                    }
                }
                // Each click's share of the error left near clicks, the worst first.
                std::vector<std::pair<double, const Click*>> share;
                for (const Click& c : *corpus.clicks) {
                    double e = 0;
                    for (size_t f = c.frame > 64 ? c.frame - 64 : 0;
                         f < std::min(clean.Frames(), c.frame + c.length + 64); ++f) {
                        for (size_t i = 2 * f; i < 2 * f + 2; ++i) {
                            const double d = double(repaired.samples[i]) - clean.samples[i];
                            e += d * d;
                        }
                    }
                    share.emplace_back(e / in, &c);
                }
                std::sort(share.begin(), share.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
                for (size_t i = 0; i < std::min<size_t>(share.size(), 30); ++i) {
                    const Click& c = *share[i].second;
                    std::fprintf(stderr, "R %zu %zu %d %.1f %.3f\n", c.frame, c.length, c.channel,
                                 c.peakDb, share[i].first);
                }
            }
            if (only)
                for (const Click& c : *corpus.clicks)
                    std::fprintf(stderr, "K %zu %zu %d %.1f\n", c.frame, c.length, c.channel,
                                 c.peakDb);
            if (only)
                for (const ClickRepair& r : result.repairs)
                    std::fprintf(stderr, "P %d %llu %u\n", r.nChannel, (unsigned long long)r.nFrame,
                                 r.nLength);
            const char* who = s == ClickSensitivity::Gentle   ? "vellisto Gentle"
                              : s == ClickSensitivity::Normal ? "vellisto Normal"
                                                              : "vellisto Strong";
            Row(corpus.name, who, before, Snr(clean, repaired), result.nSamplesChanged, total,
                &tally, corpus.clicks->size(), cpu, seconds);
        }
        if (ffmpeg.empty() || std::getenv("DECLICK_ONLY")) continue;
        const std::string in = work + "/" + corpus.name + ".wav";
        const std::string out = work + "/" + corpus.name + "-adeclick.wav";
        double cpu = 0;
        Audio theirs;
        if (!WriteWav(in, *corpus.audio) || !RunFfmpeg(ffmpeg, in, out, &cpu) ||
            !ReadWav(out, &theirs) || theirs.samples.size() != total) {
            std::fprintf(stderr, "declick_bench: ffmpeg adeclick failed on %s\n", in.c_str());
            continue;
        }
        uint64_t changed = 0;
        for (size_t i = 0; i < total; ++i) changed += theirs.samples[i] != corpus.audio->samples[i];
        const std::vector<ClickRepair> spans = ChangedSpans(*corpus.audio, theirs);
        const Tally tally = Count(*corpus.clicks, spans, 2, clean.Frames());
        Row(corpus.name, "ffmpeg adeclick", before, Snr(clean, theirs), changed, total, &tally,
            corpus.clicks->size(), cpu, seconds);
    }
    return 0;
}
