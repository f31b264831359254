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

ProfileText::ProfileText(std::string content) : m_text(std::move(content)) {}

std::size_t ProfileText::lineEnd(std::size_t begin) const {
    const auto nl = m_text.find('\n', begin);
    return nl == std::string::npos ? m_text.size() : nl + 1;
}

std::string_view ProfileText::line(std::size_t begin) const {
    return std::string_view(m_text).substr(begin, lineEnd(begin) - begin);
}

std::optional<ProfileText::Range> ProfileText::findSection(std::string_view section) const {
    section = trim(section);
    for (std::size_t at = 0; at < m_text.size(); at = lineEnd(at)) {
        const Parsed p = parse(line(at));
        if (p.kind != Parsed::Section || !cp1250::equalNoCase(p.name, section)) continue;
        const std::size_t body = lineEnd(at);
        std::size_t end = body;
        while (end < m_text.size() && parse(line(end)).kind != Parsed::Section)
            end = lineEnd(end);
        return Range{at, body, end};
    }
    return std::nullopt;
}

std::optional<ProfileText::Line> ProfileText::findKey(const Range& range,
                                                      std::string_view key) const {
    key = trim(key);
    for (std::size_t at = range.body; at < range.end; at = lineEnd(at)) {
        const Parsed p = parse(line(at));
        if (p.kind == Parsed::Entry && cp1250::equalNoCase(p.name, key))
            return Line{at, lineEnd(at)};
    }
    return std::nullopt;
}

std::optional<std::string> ProfileText::value(std::string_view section,
                                              std::string_view key) const {
    const auto range = findSection(section);
    if (!range) return std::nullopt;
    const auto found = findKey(*range, key);
    if (!found) return std::nullopt;
    return std::string(parse(line(found->begin)).value);
}

std::vector<std::string> ProfileText::sectionNames() const {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < m_text.size(); at = lineEnd(at)) {
        const Parsed p = parse(line(at));
        if (p.kind == Parsed::Section) names.emplace_back(p.name);
    }
    return names;
}

std::vector<std::string> ProfileText::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    const auto range = findSection(section);
    if (!range) return names;
    for (std::size_t at = range->body; at < range->end; at = lineEnd(at)) {
        const Parsed p = parse(line(at));
        if (p.kind == Parsed::Entry) names.emplace_back(p.name);
    }
    return names;
}

bool ProfileText::setValue(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    const auto range = findSection(section);
    if (!range) {
        // A new section goes at the end; the last line gets its line break first,
        // or the header would run into it.
        if (!m_text.empty() && m_text.back() != '\n') m_text += "\r\n";
        m_text += "[" + std::string(section) + "]\r\n";
        m_text += entryLine(key, value);
        return true;
    }
    if (const auto found = findKey(*range, key)) {
        const Parsed p = parse(line(found->begin));
        if (p.value == value) return false;
        // The key keeps the spelling it has in the file.
        const std::string replacement = entryLine(p.name, value);
        m_text.replace(found->begin, found->end - found->begin, replacement);
        return true;
    }
    // A new key follows the last non-blank line of its section, so that blank
    // lines that separate it from the next section stay where they are.
    std::size_t at = range->body;
    for (std::size_t i = range->body; i < range->end; i = lineEnd(i))
        if (!isBlankLine(line(i))) at = lineEnd(i);
    std::string inserted = entryLine(key, value);
    // The line before it may be the last of the file, without its line break.
    if (m_text[at - 1] != '\n') inserted.insert(0, "\r\n");
    m_text.insert(at, inserted);
    return true;
}

bool ProfileText::removeKey(std::string_view section, std::string_view key) {
    const auto range = findSection(section);
    if (!range) return false;
    const auto found = findKey(*range, key);
    if (!found) return false;
    m_text.erase(found->begin, found->end - found->begin);
    return true;
}

bool ProfileText::removeSection(std::string_view section) {
    const auto range = findSection(section);
    if (!range) return false;
    m_text.erase(range->header, range->end - range->header);
    return true;
}

} // namespace win
