// Settings files come from anywhere: whatever bytes they hold, reading and editing
// them must not crash, and an edit must keep the rest of the file and read back.
#include "platform/profiletext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    win::ProfileText text(content);
    for (const auto& section : text.sectionNames())
        for (const auto& key : text.keyNames(section))
            (void)text.value(section, key);
    const std::string section = size > 3 ? content.substr(0, 3) : "S";
    (void)text.value(section, "k");
    text.setValue("Fuzz Section", "Key", "value=with=equals");
    auto back = text.value("fuzz section", "KEY");
    if (!back || *back != "value=with=equals") std::abort();
    text.removeKey("Fuzz Section", "Key");
    text.removeSection(section);
    (void)text.content();
    return 0;
}
