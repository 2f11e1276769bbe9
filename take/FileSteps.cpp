#include "take/FileSteps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/SongFileName.h"

std::string Normal(const std::string& path) {
    return path.empty() ? path : std::filesystem::path(path).lexically_normal().string();
}

std::string Folded(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool WriteAll(int fd, const char* data, size_t count, uint64_t offset) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, data, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* dst, size_t count, uint64_t offset) {
    while (count > 0) {
        const ssize_t got = ::pread(fd, dst, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        dst += got;
        count -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool WriteNewFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, text.data(), text.size(), 0) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        errno = error;
    }
    return ok;
}

FileIdentity IdentityAt(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool PublishFile(const std::string& temp, const std::string& final, const FileIdentity& seen) {
    const char* from = temp.c_str();
    const char* to = final.c_str();
    if (!seen.bPresent) {
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL && errno != ENOSYS) return false;
        if (::link(from, to) == 0) {
            ::unlink(from);
            return true;
        }
        if (errno != EPERM && errno != EOPNOTSUPP) return false;
        // Neither: the last resort looks before it leaps.
        if (Exists(final)) {
            errno = EEXIST;
            return false;
        }
        return ::rename(from, to) == 0;
    }
    // Swapped, the file that was at the name is at temp and can be looked at: if it is not the
    // one the caller meant to replace, it goes back, unharmed.
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
        if (IdentityAt(temp) == seen) {
            ::unlink(from);
            return true;
        }
        ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
        errno = EEXIST;
        return false;
    }
    if (errno == ENOENT && !Exists(final)) {
        // Gone since: nothing is replaced by taking the free name.
        return PublishFile(temp, final, FileIdentity{});
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (IdentityAt(final) != seen) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}

bool PublishText(const std::string& path, const std::string& text, const FileIdentity& seen) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return false;
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = n < 0 ? errno : EIO;
                ::close(fd);
                errno = error;
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return ::close(fd) == 0;
    }
    const std::string folder = FolderPart(path);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "/." + std::string(FileNamePart(path)).substr(0, 200) + "." +
               std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".part";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text.data(), text.size(), 0) && (!seen.bPresent || ::fsync(fd) == 0);
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok && error != 0) errno = error;
    ok = ok && PublishFile(temp, path, seen);
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

bool ReadText(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[4096];
    size_t n;
    text->clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text->append(buffer, n);
        if (text->size() > (1u << 20)) break;
    }
    std::fclose(file);
    return true;
}
