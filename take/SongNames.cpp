#include "take/SongNames.h"

#include <cctype>
#include <cstdio>

#include "take/FileSteps.h"

namespace {

constexpr size_t kLongestName = 255;  // bytes of a folder entry
constexpr size_t kLongestTitle = 200;

bool ByLetter(const SongNumbering& numbering) {
    return !numbering.sideStarts.empty() || numbering.cFirstSide != 0;
}
char FirstSide(const SongNumbering& numbering) {
    return numbering.cFirstSide != 0 ? numbering.cFirstSide : 'A';
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The field's text for one song, or false for a field that is not known.
bool Field(const std::string& field, int song, const std::string& title,
           const SongNumbering& numbering, const SongTags& tags, std::string* out) {
    std::string name = field, format;
    const size_t colon = field.find(':');
    if (colon != std::string::npos) {
        name = field.substr(0, colon);
        format = field.substr(colon + 1);
        // Only zero-padded widths: {n:02}, {track:03}.
        if (format.size() != 2 || format[0] != '0' || format[1] < '1' || format[1] > '9' ||
            (name != "n" && name != "track")) {
            return false;
        }
    }
    auto padded = [&format](int number) {
        std::string digits = std::to_string(number);
        const size_t width = format.empty() ? 1 : static_cast<size_t>(format[1] - '0');
        if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
        return digits;
    };
    if (name == "n") {
        const std::string number = SongNumber(song, numbering);
        *out = ByLetter(numbering) ? number.substr(0, 1) + padded(std::stoi(number.substr(1)))
                                   : padded(std::stoi(number));
    } else if (name == "track") {
        *out = padded(song + 1);
    } else if (name == "side") {
        *out = ByLetter(numbering) ? SongNumber(song, numbering).substr(0, 1) : "";
    } else if (name == "title") {
        *out = SafeTitle(title);
    } else if (name == "album") {
        *out = SafeTitle(tags.strAlbum);
    } else if (name == "artist") {
        *out = SafeTitle(tags.strArtist);
    } else {
        return false;
    }
    return true;
}

// SafeTitle before it is cut to length.
std::string CleanTitle(const std::string& title) {
    std::string out;
    for (char c : title) {
        const bool space = IsControl(static_cast<unsigned char>(c)) || c == '/' || c == ' ';
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    const size_t first = out.find_first_not_of(" .");
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(" .") - first + 1);
}
}  // namespace

bool TitleShortened(const std::string& title) { return CleanTitle(title).size() > kLongestTitle; }

std::string SafeTitle(const std::string& title) {
    std::string out = CleanTitle(title);
    if (out.size() > kLongestTitle) {
        size_t cut = kLongestTitle;
        // Back to the start of a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        const size_t last = out.find_last_not_of(" .");
        out.resize(last == std::string::npos ? 0 : last + 1);
    }
    return out;
}

std::string SongNumber(int song, const SongNumbering& numbering) {
    if (!ByLetter(numbering)) return std::to_string(song + 1);
    int side = 0, firstOfSide = 1;
    for (int start : numbering.sideStarts) {
        if (start > song + 1) break;
        ++side;
        firstOfSide = start;
    }
    return std::string(1, static_cast<char>(FirstSide(numbering) + side)) +
           std::to_string(song + 2 - firstOfSide);
}

SongNames BuildSongNames(const std::string& pattern, const std::vector<std::string>& titles,
                         const SongNumbering& numbering, const SongTags& tags) {
    SongNames result;
    auto refuse = [&result](NamesRefusal why, int first, int second = -1,
                            const std::string& detail = {}) {
        result.refusal = why;
        result.nFirst = first;
        result.nSecond = second;
        result.strDetail = detail;
        result.names.clear();
        return result;
    };
    const int songs = static_cast<int>(titles.size());
    int previous = 1;
    for (int start : numbering.sideStarts) {
        if (start <= previous || start > songs) return refuse(NamesRefusal::BadSides, -1);
        previous = start;
    }
    const char first = FirstSide(numbering);
    if (first < 'A' || first > 'Z' || numbering.sideStarts.size() > size_t('Z' - first)) {
        return refuse(NamesRefusal::BadSides, -1);
    }
    for (int song = 0; song < songs; ++song) {
        std::string name;
        for (size_t k = 0; k < pattern.size(); ++k) {
            const char c = pattern[k];
            if (c == '{' && k + 1 < pattern.size() && pattern[k + 1] == '{') {
                name += '{';
                ++k;
            } else if (c == '}' && k + 1 < pattern.size() && pattern[k + 1] == '}') {
                name += '}';
                ++k;
            } else if (c == '{') {
                const size_t close = pattern.find('}', k);
                if (close == std::string::npos) return refuse(NamesRefusal::Unbalanced, song);
                const std::string field = pattern.substr(k + 1, close - k - 1);
                std::string text;
                if (!Field(field, song, titles[static_cast<size_t>(song)], numbering, tags,
                           &text)) {
                    return refuse(NamesRefusal::UnknownField, song, -1, "{" + field + "}");
                }
                name += text;
                k = close;
            } else if (c == '}') {
                return refuse(NamesRefusal::Unbalanced, song);
            } else {
                name += c;
            }
        }
        if (name.empty()) return refuse(NamesRefusal::Empty, song);
        if (name == "." || name == "..") return refuse(NamesRefusal::Dots, song);
        if (name.find('/') != std::string::npos) return refuse(NamesRefusal::Slash, song);
        if (name[0] == '.') return refuse(NamesRefusal::Hidden, song);
        for (char ch : name) {
            if (IsControl(static_cast<unsigned char>(ch))) {
                return refuse(NamesRefusal::Control, song);
            }
        }
        if (name.size() > kLongestName) return refuse(NamesRefusal::TooLong, song);
        const std::string folded = Folded(name);
        for (int other = 0; other < song; ++other) {
            if (Folded(result.names[static_cast<size_t>(other)]) == folded) {
                return refuse(NamesRefusal::Collide, other, song);
            }
        }
        result.names.push_back(name);
    }
    return result;
}

std::string DescribeNamesRefusal(const SongNames& r) {
    const std::string song = "song " + std::to_string(r.nFirst + 1);
    switch (r.refusal) {
        case NamesRefusal::None:
            return {};
        case NamesRefusal::UnknownField:
            return "the pattern has an unknown field " + r.strDetail +
                   " (known: {n}, {n:02}, {track}, {side}, {title}, {album}, {artist})";
        case NamesRefusal::Unbalanced:
            return "the pattern has a brace without its pair (write {{ or }} for a brace)";
        case NamesRefusal::Empty:
            return "the name of " + song + " would be empty";
        case NamesRefusal::Dots:
            return "the name of " + song + " would be \".\" or \"..\", which name folders";
        case NamesRefusal::Hidden:
            return "the name of " + song + " would begin with \".\", which hides the file";
        case NamesRefusal::Slash:
            return "the name of " + song + " would hold \"/\" and leave the folder";
        case NamesRefusal::Control:
            return "the name of " + song + " would hold a control character";
        case NamesRefusal::Collide:
            return "songs " + std::to_string(r.nFirst + 1) + " and " +
                   std::to_string(r.nSecond + 1) +
                   " would have the same name (letter case aside); put {n} in the pattern";
        case NamesRefusal::TooLong:
            return "the name of " + song + " would be longer than 255 bytes";
        case NamesRefusal::BadSides:
            return "the sides must start at ascending songs after the first, at most 26 sides";
    }
    return {};
}
