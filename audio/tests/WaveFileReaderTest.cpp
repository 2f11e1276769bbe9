// The WAV reader on files and streams written here byte by byte: RIFF, RF64 (sizes past 4 GiB
// in "ds64") and Wave64 (16-byte ids, 64-bit sizes, chunks aligned to 8 bytes), with the faults
// named.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "audio/WaveFileReader.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::HasSubstr;
using namespace testsupport;

void Put(Bytes& b, const void* p, size_t n) {
    const auto* c = static_cast<const char*>(p);
    b.insert(b.end(), c, c + n);
}
void Le(Bytes& b, uint64_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) b.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}
void Fmt16(Bytes& b) {  // 16-bit PCM stereo at 44.1 kHz
    Le(b, 1, 2), Le(b, 2, 2), Le(b, 44100, 4), Le(b, 44100 * 4, 4), Le(b, 4, 2), Le(b, 16, 2);
}

// RF64: the RIFF and data sizes 0xFFFFFFFF, the real ones in "ds64"; a chunk after the data.
Bytes Rf64(uint64_t ds64Data, const Bytes& samples) {
    Bytes b;
    Put(b, "RF64", 4), Le(b, 0xFFFFFFFF, 4), Put(b, "WAVE", 4);
    Put(b, "ds64", 4), Le(b, 28, 4), Le(b, 0, 8), Le(b, ds64Data, 8), Le(b, 0, 8), Le(b, 0, 4);
    Put(b, "fmt ", 4), Le(b, 16, 4), Fmt16(b);
    Put(b, "data", 4), Le(b, 0xFFFFFFFF, 4), Put(b, samples.data(), samples.size());
    Put(b, "LIST", 4), Le(b, 4, 4), Put(b, "INFO", 4);
    return b;
}

constexpr unsigned char kTail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                     0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
void W64Chunk(Bytes& b, const char* id, const Bytes& body) {
    Put(b, id, 4), Put(b, kTail, 12), Le(b, 24 + body.size(), 8), Put(b, body.data(), body.size());
    b.resize((b.size() + 7) / 8 * 8, 0);
}
// Wave64: a chunk of another kind before "fmt ", and one after the data.
Bytes W64(const Bytes& samples) {
    const unsigned char riffTail[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6,
                                        0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    Bytes b, fmt;
    Fmt16(fmt);
    Put(b, "riff", 4), Put(b, riffTail, 12), Le(b, 0, 8), Put(b, "wave", 4), Put(b, kTail, 12);
    W64Chunk(b, "junk", Bytes(5, 'j'));
    W64Chunk(b, "fmt ", fmt);
    W64Chunk(b, "data", samples);
    W64Chunk(b, "list", Bytes(9, 'l'));
    return b;
}

// The header as read from a pipe, written by a thread of its own.
bool ReadFromPipe(const Bytes& bytes, WavFileInfo* info, std::string* error) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    std::thread writer([&] {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        ::close(fds[1]);
    });
    const bool ok = ReadWavHeader(fds[0], "pipe", info, error);
    char scrap[4096];
    while (::read(fds[0], scrap, sizeof scrap) > 0) {
    }
    writer.join();
    ::close(fds[0]);
    return ok;
}

}  // namespace

TEST(WaveFileReader, HeaderChecksNameTheFault) {
    CTempDir dir;
    auto write = [&dir](const std::string& name, const Bytes& bytes) {
        WriteFile(dir / name, bytes);
        return (dir / name).string();
    };
    const WavFormat pcm{16, 44100, 2};
    const Bytes samples(4000, 7);
    WavFileInfo info;
    std::string error;
    ASSERT_TRUE(ReadWavFileInfo(write("good.wav", MakeWav(pcm, samples, true)), &info, &error));
    EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(info.nDataOffset, 44u + 12u);  // past the odd LIST chunk and its pad byte
    EXPECT_EQ(info.nDataBytes, 4000u);
    ASSERT_TRUE(ReadWavFileInfo(write("f.wav", MakeWav({32, 22050, 1}, samples)), &info, &error));
    EXPECT_EQ(info.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);

    Bytes cut = MakeWav(pcm, samples), stub = MakeWav(pcm, {});
    cut.resize(cut.size() - 1001);
    stub.resize(30);
    // A data size past the end of the file (a streaming writer's, or a cut file) means "to the
    // end", in whole frames.
    ASSERT_TRUE(ReadWavFileInfo(write("cut.wav", cut), &info, &error)) << error;
    EXPECT_EQ(info.nDataBytes, 2996u);
    EXPECT_TRUE(info.bSizeToEnd);
    EXPECT_EQ(info.nDeclaredBytes, 4000u);
    // A size that ends inside a frame, where the file ends too: the whole frames it declares.
    ASSERT_TRUE(ReadWavFileInfo(write("half.wav", MakeWav(pcm, Bytes(4002))), &info, &error));
    EXPECT_EQ(info.nDataBytes, 4000u);
    EXPECT_EQ(info.nPartialBytes, 2u);
    EXPECT_FALSE(info.bSizeToEnd);
    // (Text, 24-bit, missing files and folders are refused through the splitter's inputs.)
    const std::pair<std::string, std::string> bad[] = {
        {write("8.wav", MakeWav({8, 44100, 2}, samples)), "holds 8-bit PCM samples"},
        {write("stub.wav", stub), "truncated"},
    };
    for (const auto& [path, text] : bad) {
        EXPECT_FALSE(ReadWavFileInfo(path, &info, &error)) << path;
        EXPECT_THAT(error, HasSubstr(text)) << path << ": " << error;
    }
}

TEST(WaveFileReader, Rf64AndWave64FilesAndStreams) {
    CTempDir dir;
    WavFileInfo info;
    std::string error;
    const Bytes samples(4002, 3);  // ends inside a frame: whole frames only
    const Bytes rf64 = Rf64(samples.size(), samples), w64 = W64(samples);
    WriteFile(dir / "a.rf64", rf64);
    WriteFile(dir / "a.w64", w64);
    for (const char* name : {"a.rf64", "a.w64"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(ReadWavFileInfo((dir / name).string(), &info, &error)) << error;
        EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
        EXPECT_EQ(info.format.nBlockAlign, 4u);
        EXPECT_EQ(info.nDataOffset, std::string(name) == "a.rf64" ? 80u : 40u + 32u + 40u + 24u);
        EXPECT_EQ(info.nDataBytes, 4000u);
        EXPECT_FALSE(info.bSizeToEnd);
        const Bytes& bytes = std::string(name) == "a.rf64" ? rf64 : w64;
        ASSERT_TRUE(ReadFromPipe(bytes, &info, &error)) << error;
        EXPECT_TRUE(info.bStream);
        EXPECT_EQ(info.nDataBytes, 4000u);
    }
    // A streaming writer's RF64 leaves "ds64" at 0: the data runs to the end.
    WriteFile(dir / "s.rf64", Rf64(0, samples));
    ASSERT_TRUE(ReadWavFileInfo((dir / "s.rf64").string(), &info, &error)) << error;
    EXPECT_TRUE(info.bSizeToEnd);
    EXPECT_EQ(info.nDataBytes, (rf64.size() - 80) / 4 * 4);
    ASSERT_TRUE(ReadFromPipe(Rf64(0, samples), &info, &error)) << error;
    EXPECT_EQ(info.nDataBytes, WavFileInfo::kToTheEnd);
    // A Wave64 chunk whose size cannot hold its own header is damage, not a loop.
    Bytes bad = w64;
    std::memset(&bad[40 + 16], 0, 8);
    WriteFile(dir / "bad.w64", bad);
    EXPECT_FALSE(ReadWavFileInfo((dir / "bad.w64").string(), &info, &error));
    EXPECT_THAT(error, HasSubstr("damaged"));
    // A size near 2^64 must not wrap the reader round to the same chunk for ever.
    std::memset(&bad[40 + 16], 0xFF, 8);
    WriteFile(dir / "huge.w64", bad);
    EXPECT_FALSE(ReadWavFileInfo((dir / "huge.w64").string(), &info, &error));
    for (int k = 0; k < 8; ++k) bad[40 + 16 + k] = k == 7 ? 0 : char(0xF9);
    WriteFile(dir / "wrap.w64", bad);
    EXPECT_FALSE(ReadWavFileInfo((dir / "wrap.w64").string(), &info, &error));
}
