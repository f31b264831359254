#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win {

// The text of one profile ("INI") file, read and edited by the Windows rules:
// - "[name]" opens a section; the name is what stands between "[" and the first
//   "]", without blanks around it. A "[name" without "]" is no header: like any
//   line without "=", it is kept but means nothing, and the section goes on.
// - "key=value" is an entry, split at the first "=", blanks (space, tab, CR, VT,
//   FF) around the key and the value ignored. A line whose key would be empty, or
//   that starts with ";" (a comment), is no entry.
// - Names compare without case (Windows-1250 letter pairs). Of duplicate sections
//   only the first is used, and of duplicate keys in it the first.
// - Lines before the first header belong to no section.
// Edits touch only the lines they must: every other line, whatever bytes it holds
// (NUL, binary, no final newline), is kept byte for byte. Lines written end in
// CR LF.
class ProfileText {
public:
    // The text is kept as one string, edited in place: a file of ten million empty
    // lines costs its own size, not a string object per line.
    explicit ProfileText(std::string content);

    // The value of the key, as it stands in the file (blanks around it removed).
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // The section names in file order (duplicates included, as Windows lists them).
    std::vector<std::string> sectionNames() const;
    // The keys of the section in file order; empty when there is no such section.
    std::vector<std::string> keyNames(std::string_view section) const;

    // Each returns whether the text changed.
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

    const std::string& content() const { return m_text; }

private:
    // Byte offsets into m_text; a line runs up to and including its "\n".
    struct Range {
        std::size_t header; // start of the section's header line
        std::size_t body;   // start of the line after it
        std::size_t end;    // start of the next section's header, or the end of the text
    };
    struct Line {
        std::size_t begin;
        std::size_t end;
    };
    std::size_t lineEnd(std::size_t begin) const;
    std::string_view line(std::size_t begin) const;
    std::optional<Range> findSection(std::string_view section) const;
    std::optional<Line> findKey(const Range& range, std::string_view key) const;

    std::string m_text;
};

} // namespace win
