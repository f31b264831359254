#include "tools/blockers/portlist.h"

#include "platform/regularfile.h"
#include "platform/rulelines.h"
#include "platform/system.h"
#include "platform/text.h"

namespace tools::portlist {
namespace {

// Blank means empty or spaces only; tabs and other control characters are text.
bool isBlank(std::string_view line) {
    return line.find_first_not_of(' ') == std::string_view::npos;
}

PortRecord split(std::string_view line) {
    const auto comma = line.find(',');
    const std::string_view port = comma == std::string_view::npos ? line : line.substr(0, comma);
    const std::string_view rest = comma == std::string_view::npos ? line : line.substr(comma + 1);
    // Each field is cut to its width before its leading blanks go, so blanks in
    // front of a value can push its digits out of the field.
    PortRecord record;
    record.port = text::pad(text::trimLeft(text::cut(port, PortWidth)), PortWidth);
    record.description = text::pad(
        text::trimLeft(text::cut(text::trimRight(rest), DescriptionWidth)), DescriptionWidth);
    return record;
}

} // namespace

PortList load(std::string_view bytes) {
    std::string_view buffer = bytes.substr(0, std::min(bytes.size(), FileLimit));
    if (const auto zero = buffer.find('\0'); zero != std::string_view::npos)
        buffer = buffer.substr(0, zero);
    PortList list;
    for (const std::string_view whole : text::ruleLines(buffer)) {
        const std::string_view line = whole.substr(0, LineLimit);
        if (!isBlank(line)) list.push_back(split(line));
    }
    return list;
}

std::string readFile(const std::string& path) {
    // One read on Windows; here a short read is continued up to the same limit. A
    // pipe or device in the file's place is no list and must not hold the window.
    return win::readRegularFile(path, FileLimit).bytes;
}

std::string path(const std::string& fileName) {
    // The whole path, never cut: a cut path would open some other file.
    return win::currentDirectory() + "/" + fileName;
}

std::uint64_t portValue(const PortRecord& record) {
    return text::leadingDecimal(record.port);
}

} // namespace tools::portlist
