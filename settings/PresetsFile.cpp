#include "settings/PresetsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/Archive.h"

namespace {

constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kFirstClassRef = 0x8001;  // the class defined first takes index 1

bool Damaged(PresetLoadReport* report, const std::string& problem) {
    if (report) {
        report->bDamaged = true;
        report->strProblem = problem;
    }
    return false;
}

}  // namespace

bool ReadPresetsArchive(const uint8_t* data, size_t size, std::vector<CPresets>& out,
                        PresetLoadReport* report) {
    if (report) {
        report->bDamaged = false;
        report->nCounted = 0;
        report->nRecovered = 0;
        report->strProblem.clear();
    }
    CArchiveReader ar(data, size);
    uint32_t count;
    if (!ar.ReadCount(count)) return Damaged(report, "file too short");
    if (report) report->nCounted = count;

    // Index 0 is "no object"; each class definition and each object read takes the next
    // index. Only class entries carry a schema. The table grows with what was actually read,
    // so a huge count costs nothing up front.
    struct Entry {
        bool bClass;
        uint16_t wSchema;
    };
    std::vector<Entry> indexTable{{false, 0}};

    for (uint32_t i = 0; i < count; ++i) {
        uint16_t tag;
        if (!ar.ReadU16(tag)) return Damaged(report, "file ends early");
        uint16_t schema;
        if (tag == kNewClassTag) {
            uint16_t nameLength;
            if (!ar.ReadU16(schema) || !ar.ReadU16(nameLength)) {
                return Damaged(report, "file ends early");
            }
            const std::string expected = CPresets::kClassName;
            if (nameLength != expected.size()) return Damaged(report, "unknown class");
            char name[8];
            for (char& c : name) {
                uint8_t b;
                if (!ar.ReadU8(b)) return Damaged(report, "file ends early");
                c = static_cast<char>(b);
            }
            if (expected.compare(0, expected.size(), name, sizeof(name)) != 0) {
                return Damaged(report, "unknown class");
            }
            indexTable.push_back({true, schema});
        } else if ((tag & kClassTag) != 0) {
            const size_t index = tag & ~kClassTag;
            if (index >= indexTable.size() || !indexTable[index].bClass) {
                return Damaged(report, "bad class reference");
            }
            schema = indexTable[index].wSchema;
        } else {
            // No object, a back-reference or the 32-bit escape: never written by this program,
            // and any of them would leave an empty slot in the list.
            return Damaged(report, "unexpected object tag");
        }
        if (schema != CPresets::kSchema && schema != CPresets::kOldSchema) {
            return Damaged(report, "unknown schema " + std::to_string(schema));
        }
        CPresets preset;
        if (!preset.Serialize(ar, schema)) return Damaged(report, "file ends early");
        indexTable.push_back({false, 0});
        out.push_back(std::move(preset));
        if (report) ++report->nRecovered;
    }
    return true;
}

bool WritePresetsArchive(const std::vector<CPresets>& presets, CArchiveWriter& ar) {
    ar.WriteCount(static_cast<uint32_t>(presets.size()));
    bool first = true;
    for (const CPresets& preset : presets) {
        if (first) {
            ar.WriteU16(kNewClassTag);
            ar.WriteU16(CPresets::kSchema);
            const std::string name = CPresets::kClassName;
            ar.WriteU16(static_cast<uint16_t>(name.size()));
            ar.WriteBytes(name.data(), name.size());
            first = false;
        } else {
            ar.WriteU16(kFirstClassRef);
        }
        preset.Serialize(ar);
    }
    return ar.Flush();
}

std::vector<uint8_t> WritePresetsArchive(const std::vector<CPresets>& presets) {
    std::vector<uint8_t> bytes;
    CArchiveWriter ar([&bytes](const uint8_t* data, size_t size) {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    });
    WritePresetsArchive(presets, ar);
    return bytes;
}

bool LoadPresetsFile(const std::string& path, std::vector<CPresets>& out,
                     PresetLoadReport* report) {
    PresetLoadReport local;
    if (!report) report = &local;
    *report = PresetLoadReport{};

    // Non-blocking so that a FIFO in the file's place cannot hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        report->nErrno = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        report->nErrno = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        report->nErrno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            report->nErrno = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) break;  // shrank while being read: what is there is read as it is
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    report->bOpened = true;
    return ReadPresetsArchive(bytes.data(), bytes.size(), out, report);
}

const CPresets* FindPresetByName(const std::vector<CPresets>& presets, const std::string& name) {
    for (const CPresets& preset : presets) {
        if (preset.m_strName == name) return &preset;
    }
    return nullptr;
}

CPresets* FindPresetByName(std::vector<CPresets>& presets, const std::string& name) {
    return const_cast<CPresets*>(
        FindPresetByName(static_cast<const std::vector<CPresets>&>(presets), name));
}
