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
    explicit ProfileText(std::string_view content);

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

    std::string content() const;

private:
    struct Range {
        std::size_t header;
        std::size_t end;
    };
    std::optional<Range> findSection(std::string_view section) const;
    std::optional<std::size_t> findKey(const Range& range, std::string_view key) const;
    void terminateLine(std::size_t index);

    // Each line with its own terminator ("\n", "\r\n" or none for the last one).
    std::vector<std::string> m_lines;
};

} // namespace win
