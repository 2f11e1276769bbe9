#include "WriterTestSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace writer_test {

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellisto-writer-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_szPath = buffer.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_szPath, ignored);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes.at(offset)) |
           static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(offset + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

std::vector<uint8_t> SampleStream(size_t bytes, int bits) {
    std::vector<uint8_t> out(bytes);
    for (size_t k = 0; k < bytes; ++k) {
        uint32_t j = static_cast<uint32_t>(bits == 32 ? k / 4 : k / 2);
        uint32_t sample;
        if (bits == 32) {
            // Multiples of 1/1024 in [-1, 1): exact in float, so every reader returns them as is.
            float f =
                static_cast<float>(static_cast<int>((j * 2654435761u) >> 21) - 1024) / 1024.0f;
            std::memcpy(&sample, &f, sizeof sample);
        } else {
            sample = (j * 40503u + 12345u) & 0xFFFFu;
        }
        out[k] = static_cast<uint8_t>(sample >> (8 * (bits == 32 ? k % 4 : k % 2)));
    }
    return out;
}

std::vector<int16_t> Expected16(const std::vector<uint8_t>& stream, size_t bytes) {
    std::vector<int16_t> out(bytes / 2);
    for (size_t j = 0; j < out.size(); ++j) {
        out[j] = static_cast<int16_t>(Le16(stream, 2 * j));
    }
    return out;
}

std::vector<float> ExpectedFloat(const std::vector<uint8_t>& stream, size_t bytes) {
    std::vector<float> out(bytes / 4);
    for (size_t j = 0; j < out.size(); ++j) {
        uint32_t bitsOf = Le32(stream, 4 * j);
        std::memcpy(&out[j], &bitsOf, sizeof bitsOf);
    }
    return out;
}

SndfileView ReadWithSndfile(const std::string& path) {
    SndfileView view;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        view.szError = sf_strerror(nullptr);
        return view;
    }
    view.bOpened = true;
    view.nFrames = info.frames;
    view.nChannels = info.channels;
    view.nRate = info.samplerate;
    view.nSubFormat = info.format & SF_FORMAT_SUBMASK;
    size_t samples = static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels);
    if (view.nSubFormat == SF_FORMAT_FLOAT) {
        view.samplesFloat.resize(samples);
        view.samplesFloat.resize(static_cast<size_t>(
            sf_read_float(file, view.samplesFloat.data(), static_cast<sf_count_t>(samples))));
    } else {
        view.samples16.resize(samples);
        view.samples16.resize(static_cast<size_t>(
            sf_read_short(file, view.samples16.data(), static_cast<sf_count_t>(samples))));
    }
    sf_close(file);
    return view;
}

ToolResult RunTool(const std::vector<std::string>& argv) {
    ToolResult result;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return result;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) ::dup2(devNull, STDERR_FILENO);
        ::close(out[0]);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(out[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) result.szOut.append(chunk, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.nStatus = WEXITSTATUS(status);
    }
    return result;
}

bool ToolInstalled(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

PrivateTmpfs::PrivateTmpfs(const std::string& mountPoint, const std::string& options, bool readOnly)
    : m_szMountPoint(mountPoint) {
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0) {
        m_szWhy = "pipe failed";
        return;
    }
    if (::pipe(release) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        m_szWhy = "pipe failed";
        return;
    }
    m_nChild = ::fork();
    if (m_nChild == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        char step = 'k';
        int error = 0;
        if (::unshare(CLONE_NEWNS) != 0) {
            step = 'u';
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            step = 'p';
        } else if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                           options.c_str()) != 0) {
            step = 'm';
        }
        if (step != 'k') error = errno;
        char message[1 + sizeof error];
        message[0] = step;
        std::memcpy(message + 1, &error, sizeof error);
        if (::write(ready[1], message, sizeof message) < 0) ::_exit(1);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_hRelease = release[1];
    char message[1 + sizeof(int)] = {};
    ssize_t n = ::read(ready[0], message, sizeof message);
    ::close(ready[0]);
    int error = 0;
    std::memcpy(&error, message + 1, sizeof error);
    if (n != static_cast<ssize_t>(sizeof message)) {
        m_szWhy = "the mount helper process did not answer";
    } else if (message[0] != 'k') {
        const char* step = message[0] == 'u'   ? "unshare(CLONE_NEWNS)"
                           : message[0] == 'p' ? "making / private"
                                               : "mounting tmpfs";
        m_szWhy = std::string(step) + " failed: " + std::strerror(error);
    } else {
        m_bReady = true;
    }
}

PrivateTmpfs::~PrivateTmpfs() {
    if (m_hRelease >= 0) ::close(m_hRelease);
    if (m_nChild > 0) {
        int status = 0;
        ::waitpid(m_nChild, &status, 0);
    }
}

std::string PrivateTmpfs::File(const std::string& name) const {
    return "/proc/" + std::to_string(m_nChild) + "/root" + m_szMountPoint + "/" + name;
}

}  // namespace writer_test
