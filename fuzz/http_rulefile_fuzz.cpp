// The tag and omit files are typed by people in any editor: every line read is
// upper case, within its width and without blanks around it.
#include "platform/cp1250.h"
#include "tools/http/rulefile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tools::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const auto& line : rulefile::load(bytes, rulefile::TagWidth)) {
        if (line.empty() || line.size() > rulefile::TagWidth) std::abort();
        if (line != cp1250::toUpper(line)) std::abort();
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    }
    return 0;
}
