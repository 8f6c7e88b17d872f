// Profile ("INI") files read and written without the operating system's help.
#include "platform/ProfileFile.h"

#include "platform/Ascii.h"
#include "platform/BinaryFile.h"

#include <algorithm>
#include <vector>

namespace qx {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// One line of the file as kept for a rewrite, with what it means.
struct Line {
    std::string text;      // as in the file, without its line ending
    bool isSection = false;
    bool isKey = false;
    std::string name;      // section or key name, trimmed
    std::string value;     // key value, trimmed and unquoted
};

struct Contents {
    bool exists = false;
    bool readable = true;
    bool complete = true;  // neither the file nor a line was cut
    std::string bom;
    std::vector<Line> lines;
};

Line parseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string t = trim(line.text);
    if (t.empty()) return line;
    if (t[0] == '[') {
        line.isSection = true;
        const size_t close = t.find(']');
        line.name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return line;
    }
    line.isKey = true;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
        // A key without "=" has an empty value.
        line.name = t;
        return line;
    }
    line.name = trim(t.substr(0, eq));
    std::string v = trim(t.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    line.value = std::move(v);
    return line;
}

Contents readContents(const std::string& path) {
    Contents c;
    const PathKind kind = KindOfPath(path);
    if (kind == PathKind::Missing || kind == PathKind::Unknown) return c;
    c.exists = true;
    if (kind == PathKind::Directory) {
        c.readable = false;
        return c;
    }
    BinaryFile in(path);
    if (!in.isOpen()) {
        c.readable = false;
        return c;
    }
    // Read in pieces up to one byte past the bound: a configuration of a few lines costs a
    // few lines, not a megabyte cleared for every key looked up.
    std::string data;
    char piece[16384];
    while (data.size() <= kProfileMaxFileBytes) {
        const size_t got = in.read(piece, sizeof piece);
        if (got == 0) break;
        data.append(piece, std::min(got, kProfileMaxFileBytes + 1 - data.size()));
    }
    if (data.size() > kProfileMaxFileBytes) {
        data.resize(kProfileMaxFileBytes);
        c.complete = false;
    }
    size_t pos = 0;
    if (data.rfind("\xEF\xBB\xBF", 0) == 0) {
        c.bom = data.substr(0, 3);
        pos = 3;
    }
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        size_t len = end - pos;
        if (len > 0 && data[pos + len - 1] == '\r') --len;
        if (len > kProfileMaxLineBytes) {
            len = kProfileMaxLineBytes;
            c.complete = false;
        }
        c.lines.push_back(parseLine(data.substr(pos, len)));
        pos = end + 1;
    }
    return c;
}

// Index of the first key line `key` in the first section `section`; -1 when missing.
// `sectionAt` receives the index of that section's line (-1 when missing).
long findKey(const Contents& c, const std::string& section, const std::string& key,
             long* sectionAt) {
    const std::string s = trim(section), k = trim(key);
    long found = -1;
    for (size_t i = 0; i < c.lines.size(); ++i) {
        const Line& l = c.lines[i];
        if (l.isSection) {
            if (found >= 0) break;  // the first section of that name ended
            if (EqualNoCaseAscii(l.name, s)) found = static_cast<long>(i);
            continue;
        }
        if (found >= 0 && l.isKey && EqualNoCaseAscii(l.name, k)) {
            if (sectionAt) *sectionAt = found;
            return static_cast<long>(i);
        }
    }
    if (sectionAt) *sectionAt = found;
    return -1;
}

bool breaksLines(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

int32_t ProfileParseInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    // Wraps on overflow like the system function; never undefined.
    uint32_t v = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0 || static_cast<uint32_t>(digit) >= base) break;
        v = v * base + static_cast<uint32_t>(digit);
    }
    if (negative) v = 0u - v;
    return static_cast<int32_t>(v);
}

std::string ProfileGetString(const std::string& section, const std::string& key,
                             const std::string& def, const std::string& path) {
    const Contents c = readContents(path);
    const long at = findKey(c, section, key, nullptr);
    if (at < 0) return def;
    return c.lines[static_cast<size_t>(at)].value;
}

int32_t ProfileGetInt(const std::string& section, const std::string& key, int32_t def,
                      const std::string& path) {
    const Contents c = readContents(path);
    const long at = findKey(c, section, key, nullptr);
    if (at < 0) return def;
    const std::string& v = c.lines[static_cast<size_t>(at)].value;
    if (v.empty()) return def;
    return ProfileParseInt(v);
}

bool ProfileWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    const std::string s = trim(section), k = trim(key);
    // A name or value that would end its line, or a name the reader could not find again,
    // is refused rather than written as something else.
    if (s.empty() || k.empty() || breaksLines(s) || breaksLines(k) || breaksLines(value) ||
        s.find(']') != std::string::npos || k.find('=') != std::string::npos || k[0] == '[')
        return false;
    Contents c = readContents(path);
    // A file that could not be read whole is not rewritten: the rest would be lost.
    if (!c.readable || !c.complete) return false;

    const std::string newLine = k + "=" + value;
    long sectionAt = -1;
    const long at = findKey(c, s, k, &sectionAt);
    if (at >= 0) {
        c.lines[static_cast<size_t>(at)] = parseLine(newLine);
    } else if (sectionAt >= 0) {
        // After the last non-blank line of the section.
        size_t insert = static_cast<size_t>(sectionAt) + 1;
        for (size_t i = insert; i < c.lines.size() && !c.lines[i].isSection; ++i)
            if (!trim(c.lines[i].text).empty()) insert = i + 1;
        c.lines.insert(c.lines.begin() + static_cast<long>(insert), parseLine(newLine));
    } else {
        c.lines.push_back(parseLine("[" + s + "]"));
        c.lines.push_back(parseLine(newLine));
    }

    std::string out = c.bom;
    for (const Line& l : c.lines) {
        out += l.text;
        out += "\r\n";
    }
    return WriteWholeFile(path, out);
}

}  // namespace qx
