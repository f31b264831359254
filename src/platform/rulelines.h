#pragma once
#include <string_view>
#include <vector>

// The lines of the tools' own rule files (the port lists, the parse-tag and the
// omit file), as the tools have always split them, with one addition for this
// platform: a bare LF also ends a line, since the editor that "Edit" opens here
// writes LF alone. Files with CR LF split exactly as before.
namespace text {

// A line ends at a CR, which takes the next character with it (the LF of CR LF;
// after a bare CR, the first character of the next line), or at an LF that comes
// before any CR. After each line the blanks (spaces only) around the rest of the
// text are removed, so the first line keeps its leading blanks and the later ones
// lose theirs. Text after the last line end is not a line. The lines are given
// as they stand, empty ones included; the caller cuts, trims and skips.
std::vector<std::string_view> ruleLines(std::string_view text);

} // namespace text
