#include "engine/SongFileName.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

std::string_view FileNamePart(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

size_t SongNumberPosition(std::string_view name) {
    const size_t fileStart = name.size() - FileNamePart(name).size();
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < fileStart) return name.size();
    return dot;
}

CSongFileName::CSongFileName(std::string_view base) {
    const size_t p = SongNumberPosition(base);
    m_strStem = base.substr(0, p);
    m_strExtension = base.substr(p);
}

std::string CSongFileName::Name(long number) const {
    return m_strStem + std::to_string(number) + m_strExtension;
}

bool CSongFileName::NameInto(char* out, size_t size, long number) const {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%ld", number);
    const size_t need = m_strStem.size() + static_cast<size_t>(n) + m_strExtension.size();
    if (n < 0 || need >= size) return false;
    std::memcpy(out, m_strStem.data(), m_strStem.size());
    std::memcpy(out + m_strStem.size(), digits, static_cast<size_t>(n));
    std::memcpy(out + m_strStem.size() + n, m_strExtension.data(), m_strExtension.size());
    out[need] = 0;
    return true;
}

long CSongFileName::NumberOf(std::string_view name) const {
    // A name without a folder is compared with the file-name part of the stem only.
    const std::string_view stem = name.find('/') == std::string_view::npos
                                      ? FileNamePart(m_strStem)
                                      : std::string_view(m_strStem);
    if (name.size() <= stem.size() + m_strExtension.size()) return 0;
    if (name.substr(0, stem.size()) != stem) return 0;
    if (name.substr(name.size() - m_strExtension.size()) != m_strExtension) return 0;
    const std::string_view digits =
        name.substr(stem.size(), name.size() - stem.size() - m_strExtension.size());
    if (digits.size() > kMaxSongNumberDigits || digits[0] == '0') return 0;
    long number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

long CSongFileName::LowestExisting() const {
    const std::vector<long> numbers = ExistingNumbers();
    return numbers.empty() ? 0 : numbers.front();
}

std::vector<long> CSongFileName::ExistingNumbers() const {
    namespace fs = std::filesystem;
    std::vector<long> numbers;
    std::error_code ec;
    fs::directory_iterator it(FolderPart(m_strStem), ec);
    if (ec) {
        // A folder that cannot be listed still answers questions about single names.
        struct stat st;
        for (long k = 1; k <= 9; ++k) {
            if (::stat(Name(k).c_str(), &st) == 0) numbers.push_back(k);
        }
        return numbers;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const long k = NumberOf(it->path().filename().string());
        if (k > 0) numbers.push_back(k);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}
