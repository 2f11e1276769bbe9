#include "take/TrackList.h"

#include <optional>

#include "settings/Windows1252.h"

namespace {

// Spaces, tabs and the dashes people put between a position, a title and a time.
constexpr std::string_view kDashes[] = {"-", "\xE2\x80\x93", "\xE2\x80\x94"};  // -, en, em

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Drops one dash (with the spaces around it) from the front or the back; true when it did.
bool DropDash(std::string_view& text, bool front) {
    for (std::string_view dash : kDashes) {
        if (front ? text.substr(0, dash.size()) == dash
                  : text.size() >= dash.size() && text.substr(text.size() - dash.size()) == dash) {
            front ? text.remove_prefix(dash.size()) : text.remove_suffix(dash.size());
            text = TrimSpaces(text);
            return true;
        }
    }
    return false;
}

struct Position {
    std::string strText;        // "A1", "03"
    std::string_view rest;      // the line after it, trimmed
    bool bPlainNumber = false;  // digits then only a space: may be part of a title
    int nNumber = 0;
};

// A position at the start of line: a side letter and digits, or digits, followed by ".", ")",
// ":", a dash or a space, and then a title.
std::optional<Position> ReadPosition(std::string_view line) {
    size_t at = 0;
    if (at < line.size() && IsLetter(line[at]) && at + 1 < line.size() && IsDigit(line[at + 1])) {
        ++at;
    }
    size_t digits = at;
    while (at < line.size() && IsDigit(line[at]) && at - digits < 3) ++at;
    if (at == digits || at >= line.size()) return std::nullopt;
    // A disc and a track ("1-01", "2-03"): the track number after the dash.
    bool discTrack = false;
    if (digits == 0 && line[at] == '-' && at + 2 < line.size() && IsDigit(line[at + 1])) {
        size_t track = at + 1;
        while (track < line.size() && IsDigit(line[track]) && track - at <= 3) ++track;
        if (track < line.size() && (IsSpace(line[track]) || line[track] == '.')) {
            digits = at + 1;
            at = track;
            discTrack = true;
        }
    }
    Position p;
    p.strText = line.substr(0, at);
    p.nNumber = std::stoi(std::string(line.substr(digits, at - digits)));
    std::string_view rest = line.substr(at);
    bool marked = discTrack;
    if (rest.front() == '.' || rest.front() == ')' || rest.front() == ':') {
        // "12:00" is a time, the whole title, not track 12 called "00".
        if (rest.front() == ':' && rest.size() > 1 && IsDigit(rest[1])) return std::nullopt;
        rest.remove_prefix(1);
        marked = true;
    } else if (!IsSpace(rest.front())) {
        return std::nullopt;  // "4th", "1979", "A1B"
    }
    rest = TrimSpaces(rest);
    if (DropDash(rest, true)) marked = true;
    if (rest.empty()) return std::nullopt;  // the number is the title
    const bool sideLetter = digits == 1;
    const bool leadingZero = line[digits] == '0' && at - digits > 1;
    p.bPlainNumber = !marked && !sideLetter && !leadingZero;
    p.rest = rest;
    return p;
}

// A time at the end of line ("3:45", "1:02:03", in brackets or after a dash): its seconds, and
// the line without it.
int DropTime(std::string_view& line) {
    std::string_view text = line;
    char close = 0;
    if (!text.empty() && (text.back() == ')' || text.back() == ']')) {
        close = text.back();
        text.remove_suffix(1);
    }
    size_t start = text.size();
    int colons = 0;
    while (start > 0 && (IsDigit(text[start - 1]) || text[start - 1] == ':')) {
        colons += text[start - 1] == ':';
        --start;
    }
    const std::string_view time = text.substr(start);
    if (colons < 1 || colons > 2 || time.front() == ':' || time.back() == ':') return -1;
    int seconds = 0;
    size_t field = 0;
    for (size_t i = 0; i <= time.size(); ++i) {
        if (i < time.size() && time[i] != ':') continue;
        const std::string_view part = time.substr(field, i - field);
        if (part.empty() || part.size() > 3 || (field > 0 && part.size() != 2)) return -1;
        const int value = std::stoi(std::string(part));
        if (field > 0 && value >= 60) return -1;
        seconds = seconds * 60 + value;
        field = i + 1;
    }
    std::string_view before = text.substr(0, start);
    if (close != 0) {
        const char open = close == ')' ? '(' : '[';
        if (before.empty() || before.back() != open) return -1;
        before.remove_suffix(1);
    }
    if (!before.empty() && !IsSpace(before.back())) return -1;  // "Take5:00" is a title
    before = TrimSpaces(before);
    DropDash(before, false);
    if (before.empty()) return -1;  // the time is the title ("4:33")
    line = before;
    return seconds;
}

// A heading above the titles, as shops and sleeves print them: "Tracklist", "Track listing:",
// "Side A", "Side One", "A-Side", "Face B", "Disc 1", "CD1", "LP 2", with a colon or the side's
// length after it ("Side A (18:30)").
bool IsHeading(std::string_view line) {
    std::string h(line);
    for (char& c : h) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::string_view t = TrimSpaces(h);
    if (!t.empty() && t.back() == ':') t = TrimSpaces(t.substr(0, t.size() - 1));
    if (!t.empty() && (t.back() == ')' || t.back() == ']')) {
        const size_t open = t.find_last_of(t.back() == ')' ? '(' : '[');
        std::string_view inside = t.substr(open == std::string_view::npos ? 0 : open + 1);
        inside.remove_suffix(1);
        if (open != std::string_view::npos && !inside.empty() &&
            inside.find_first_not_of("0123456789:") == std::string_view::npos) {
            t = TrimSpaces(t.substr(0, open));
        }
    }
    for (std::string_view whole :
         {"tracklist", "track list", "tracklisting", "track listing", "tracks", "track list:"}) {
        if (t == whole) return true;
    }
    // One side's or disc's mark: a letter, up to two digits, or a number in words.
    auto isMark = [](std::string_view m) {
        if (m.size() == 1) return IsLetter(m[0]) || IsDigit(m[0]);
        if (m.size() == 2) return IsDigit(m[0]) && IsDigit(m[1]);
        for (std::string_view word : {"one", "two", "three", "four", "five", "six"}) {
            if (m == word) return true;
        }
        return false;
    };
    for (std::string_view word : {"side", "face", "disc", "disk", "cd", "lp"}) {
        if (t.substr(0, word.size()) != word) continue;
        std::string_view mark = t.substr(word.size());
        if (!mark.empty() && (IsSpace(mark.front()) || mark.front() == '-')) mark.remove_prefix(1);
        if (isMark(TrimSpaces(mark))) return true;
    }
    // "A-Side", "B side"
    return t.size() == 6 && isMark(t.substr(0, 1)) && (t[1] == '-' || t[1] == ' ') &&
           t.substr(2) == "side";
}

}  // namespace

std::vector<TrackListEntry> ParseTrackListEntries(std::string_view input) {
    struct Line {
        std::string_view text;
        std::optional<Position> position;
    };
    std::vector<Line> lines;
    const std::string utf8 = TextFileToUtf8(input);
    std::string_view text = utf8;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = TrimSpaces(text.substr(0, end));
        if (!line.empty() && !IsHeading(line)) lines.push_back({line, ReadPosition(line)});
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    // Plain numbers are positions only when every line has one and they count up by one.
    bool counting = lines.size() >= 2;
    for (size_t i = 0; counting && i < lines.size(); ++i) {
        counting = lines[i].position &&
                   (i == 0 || lines[i].position->nNumber == lines[i - 1].position->nNumber + 1);
    }
    std::vector<TrackListEntry> entries;
    for (const Line& line : lines) {
        TrackListEntry entry;
        std::string_view title = line.text;
        if (line.position && (!line.position->bPlainNumber || counting)) {
            entry.strPosition = line.position->strText;
            title = line.position->rest;
        }
        entry.nSeconds = DropTime(title);
        entry.strTitle = title;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> ParseTrackList(std::string_view text) {
    std::vector<std::string> titles;
    for (TrackListEntry& entry : ParseTrackListEntries(text)) {
        titles.push_back(std::move(entry.strTitle));
    }
    return titles;
}
