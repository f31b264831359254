#include "platform/profiletext.h"

#include "platform/cp1250.h"

namespace win {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool isBlankLine(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return trim(line).empty();
}

struct Parsed {
    enum Kind { Other, Section, Entry };
    Kind kind = Other;
    std::string_view name;
    std::string_view value;
};

Parsed parse(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    line = trim(line);
    Parsed p;
    if (line.empty() || line.front() == ';') return p;
    if (line.front() == '[') {
        const auto close = line.find(']');
        if (close != std::string_view::npos) {
            p.kind = Parsed::Section;
            p.name = trim(line.substr(1, close - 1));
            return p;
        }
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return p;
    p.name = trim(line.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = Parsed::Entry;
    p.value = trim(line.substr(eq + 1));
    return p;
}

std::string entryLine(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    line += value;
    line += "\r\n";
    return line;
}

} // namespace

ProfileText::ProfileText(std::string_view content) {
    std::size_t start = 0;
    while (start < content.size()) {
        auto nl = content.find('\n', start);
        const std::size_t end = nl == std::string_view::npos ? content.size() : nl + 1;
        m_lines.emplace_back(content.substr(start, end - start));
        start = end;
    }
}

std::optional<ProfileText::Range> ProfileText::findSection(std::string_view section) const {
    section = trim(section);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Parsed p = parse(m_lines[i]);
        if (p.kind != Parsed::Section || !cp1250::equalNoCase(p.name, section)) continue;
        std::size_t end = i + 1;
        while (end < m_lines.size() && parse(m_lines[end]).kind != Parsed::Section)
            ++end;
        return Range{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> ProfileText::findKey(const Range& range, std::string_view key) const {
    key = trim(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const Parsed p = parse(m_lines[i]);
        if (p.kind == Parsed::Entry && cp1250::equalNoCase(p.name, key)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> ProfileText::value(std::string_view section,
                                              std::string_view key) const {
    const auto range = findSection(section);
    if (!range) return std::nullopt;
    const auto line = findKey(*range, key);
    if (!line) return std::nullopt;
    return std::string(parse(m_lines[*line]).value);
}

std::vector<std::string> ProfileText::sectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : m_lines) {
        const Parsed p = parse(line);
        if (p.kind == Parsed::Section) names.emplace_back(p.name);
    }
    return names;
}

std::vector<std::string> ProfileText::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    const auto range = findSection(section);
    if (!range) return names;
    for (std::size_t i = range->header + 1; i < range->end; ++i) {
        const Parsed p = parse(m_lines[i]);
        if (p.kind == Parsed::Entry) names.emplace_back(p.name);
    }
    return names;
}

void ProfileText::terminateLine(std::size_t index) {
    std::string& line = m_lines[index];
    if (line.empty() || line.back() != '\n') line += "\r\n";
}

bool ProfileText::setValue(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    const auto range = findSection(section);
    if (!range) {
        // A new section goes at the end; the last line gets its line break first,
        // or the header would run into it.
        if (!m_lines.empty()) terminateLine(m_lines.size() - 1);
        m_lines.push_back("[" + std::string(section) + "]\r\n");
        m_lines.push_back(entryLine(key, value));
        return true;
    }
    if (const auto line = findKey(*range, key)) {
        const Parsed p = parse(m_lines[*line]);
        if (p.value == value) return false;
        // The key keeps the spelling it has in the file.
        m_lines[*line] = entryLine(p.name, value);
        return true;
    }
    // A new key follows the last non-blank line of its section, so that blank
    // lines that separate it from the next section stay where they are.
    std::size_t at = range->header + 1;
    for (std::size_t i = range->header + 1; i < range->end; ++i)
        if (!isBlankLine(m_lines[i])) at = i + 1;
    terminateLine(at - 1);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), entryLine(key, value));
    return true;
}

bool ProfileText::removeKey(std::string_view section, std::string_view key) {
    const auto range = findSection(section);
    if (!range) return false;
    const auto line = findKey(*range, key);
    if (!line) return false;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*line));
    return true;
}

bool ProfileText::removeSection(std::string_view section) {
    const auto range = findSection(section);
    if (!range) return false;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    return true;
}

std::string ProfileText::content() const {
    std::size_t size = 0;
    for (const auto& line : m_lines)
        size += line.size();
    std::string out;
    out.reserve(size);
    for (const auto& line : m_lines)
        out += line;
    return out;
}

} // namespace win
